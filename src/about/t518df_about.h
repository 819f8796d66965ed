#pragma once
// The about box: what the program is, its version and maker, and the verbosity switch.
#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

namespace quillon {

class InstrumentLink;

class TForm1 : public QDialog {
    Q_OBJECT

public:
    // Shows the link's current verbosity in CheckBox1.
    explicit TForm1(InstrumentLink& link, QWidget* parent = nullptr);
    ~TForm1() override;

    // Click of CheckBox1: verbose while ticked, quiet while cleared.
    void Verbose1();

    QPushButton* Button1;
    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QCheckBox* CheckBox1;

private:
    InstrumentLink& link_;
};

// The about box created last; cleared when it is destroyed.
extern TForm1* Form1;

}  // namespace quillon
