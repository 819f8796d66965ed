#include "about/t518df_about.h"

#include "link/instrument_link.h"

#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace quillon {

TForm1* Form1 = nullptr;

namespace {

// The box was laid out for an outer size of 414 x 226 with a sizeable frame of 8 pixels
// and a 30-pixel title; the client keeps that size and the frame is the system's.
constexpr int CLIENT_WIDTH = 414 - 2 * 8;
constexpr int CLIENT_HEIGHT = 226 - 30 - 8;
constexpr int DESIGNED_LEFT = 443;
constexpr int DESIGNED_TOP = 406;

QLabel* make_label(QWidget* parent, const char* name, const QString& text, QRect designed) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    // Labels size themselves to their text, from their left edge.
    designed.setWidth(std::max(designed.width(), label->sizeHint().width()));
    label->setGeometry(designed);
    return label;
}

}  // namespace

TForm1::TForm1(InstrumentLink& link, QWidget* parent) : QDialog(parent), link_(link) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("About Zorvik DownLoad File to TR-518 or TR-760"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setModal(true);

    // The nearest relative here of the 8-point sans serif the box was drawn in.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(168, 136, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(32, 24, 33, 33);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(QApplication::windowIcon().pixmap(32, 32));

    Label1 = make_label(this, "Label1",
                        QStringLiteral("Quillon_760.exe will download code to a TR-518 or TR-760."),
                        QRect(88, 32, 273, 13));
    Label2 = make_label(this, "Label2",
                        QStringLiteral("Version 1.007  (C) 2024 Quillon Instruments"),
                        QRect(80, 56, 290, 13));
    Label3 = make_label(this, "Label3", QStringLiteral("802-555-0147"), QRect(176, 80, 69, 13));
    Label4 = make_label(this, "Label4", QStringLiteral("Burlington, VT, USA"),
                        QRect(144, 104, 123, 13));

    CheckBox1 = new QCheckBox(QStringLiteral("Verbose"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(272, 104, 17, 17);
    // Toggled, not clicked: ticking it here raises the handler as the click would.
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { Verbose1(); });

    setTabOrder(Button1, CheckBox1);
    Button1->setFocus();
    Button1->setDefault(true);

    setFixedSize(CLIENT_WIDTH, CLIENT_HEIGHT);
    move(DESIGNED_LEFT, DESIGNED_TOP);

    CheckBox1->setChecked(link_.verbosity() != VERBOSITY_QUIET);
}

TForm1::~TForm1() {
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::Verbose1() {
    link_.set_verbose(CheckBox1->isChecked());
}

}  // namespace quillon
