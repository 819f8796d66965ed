#pragma once
// The main window: the menu that starts every command, the log pane and the status bar.
// It is the program's log sink and the download's host.
#include "download/download_host.h"
#include "link/progress_log.h"

#include <QMainWindow>
#include <QString>

#include <optional>
#include <string>
#include <string_view>

class QAction;
class QFileDialog;
class QMenu;
class QMenuBar;

namespace quillon {

class InstrumentLink;
class LogPane;
class StatusBar;

struct MainFormOptions {
    // Where the firmware chooser opens; the home folder stands in while it does not exist.
    QString image_folder;
};

class TMainForm : public QMainWindow, public LogSink, public DownloadHost {
    Q_OBJECT

public:
    explicit TMainForm(InstrumentLink& link, MainFormOptions options = {},
                       QWidget* parent = nullptr);
    // Closes a link that a command left open, before the components go.
    ~TMainForm() override;

    // Menu handlers. Each one shows whatever escapes it in the error box.
    void Exit1Click();
    void StatusBar1Resize();
    void Arm_reset();
    void Save1Click();
    void About1Click();
    void Open1Click();

    // LogSink: the log pane. (repaint() paints the pane; the rest of QWidget's stays.)
    using QMainWindow::repaint;
    void append_line(std::string_view line) override;
    void repaint() override;

    // DownloadHost
    std::optional<std::string> choose_image_file() override;
    void show_usb_status() override;
    void dispatch_pending_events() override;
    bool terminating() const override { return terminating_; }
    void beep() override;

    // Components, in the window's order.
    QFileDialog* OpenDialog1;
    QFileDialog* SaveDialog1;
    QMenuBar* MainMenu1;
    LogPane* RichEdit1;
    StatusBar* StatusBar1;
    QMenu* File2;
    QAction* Exit2;
    QAction* N2;
    QAction* Save1;
    QMenu* Help1;
    QAction* About1;
    QAction* Open1;
    QAction* ResetTR5181;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build_dialogs();
    void build_menu();
    // Commands that must not run inside a running download.
    void set_commands_enabled(bool enabled);

    InstrumentLink& link_;
    MainFormOptions options_;
    bool terminating_ = false;
    QString last_save_path_;
    QString last_save_filter_;
    std::optional<ScopedLogSink> sink_;
};

// The program's one main window, set by the start-up.
extern TMainForm* MainForm;

}  // namespace quillon
