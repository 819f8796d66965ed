#include "app/main_form.h"

#include "about/t518df_about.h"
#include "app/app_identity.h"
#include "app/error_box.h"
#include "app/log_file.h"
#include "app/log_pane.h"
#include "app/status_bar.h"
#include "download/download_sequence.h"
#include "download/instrument_reset.h"
#include "link/instrument_link.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

#include <memory>

namespace quillon {

TMainForm* MainForm = nullptr;

namespace {

constexpr int LOG_PANE_WIDTH = 910;
constexpr int LOG_PANE_HEIGHT = 464;
constexpr int STATUS_BAR_HEIGHT = 19;
constexpr int STATUS_PANEL_0_WIDTH = 400;
constexpr int STATUS_PANEL_1_WIDTH = 50;
constexpr int STATUS_RIGHT_PART = 100;

const QString IMAGE_FILTER = QStringLiteral("Binary Files (*.bin)");
const QString TEXT_FILTER = QStringLiteral("Text Files (.csv, .txt, .dat) (*.csv *.dat *.txt)");
const QString ALL_FILTER = QStringLiteral("All Files (*)");

// The file dialogs of the system this program grew up on made the chosen file's folder
// the working directory; the download relies on saving and restoring it.
void enter_folder_of(const QString& path) {
    QDir::setCurrent(QFileInfo(path).absolutePath());
}

// The chosen file, or nothing when the dialog was cancelled.
std::optional<QString> run_file_dialog(QFileDialog& dialog) {
    const int answer = dialog.exec();
    // The name field's completion list would stay on screen through a command that
    // blocks the event loop; it goes with the dialog.
    for (QCompleter* completer : dialog.findChildren<QCompleter*>()) {
        if (completer->popup()) completer->popup()->hide();
    }
    if (answer != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
    enter_folder_of(files.first());
    return files.first();
}

// The selected filter with its patterns; the dialog names it without them.
QString full_name_filter(const QFileDialog& dialog) {
    const QString shown = dialog.selectedNameFilter();
    for (const QString& filter : dialog.nameFilters())
        if (filter == shown || filter.startsWith(shown + QStringLiteral(" ("))) return filter;
    return shown;
}

}  // namespace

TMainForm::TMainForm(InstrumentLink& link, MainFormOptions options, QWidget* parent)
    : QMainWindow(parent), link_(link), options_(std::move(options)) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QString::fromLatin1(MAIN_CAPTION));

    build_dialogs();
    build_menu();

    RichEdit1 = new LogPane(this);
    setCentralWidget(RichEdit1);

    StatusBar1 = new StatusBar(2, this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(STATUS_BAR_HEIGHT);
    StatusBar1->set_panel_width(0, STATUS_PANEL_0_WIDTH);
    StatusBar1->set_panel_width(1, STATUS_PANEL_1_WIDTH);
    setStatusBar(StatusBar1);
    connect(StatusBar1, &StatusBar::resized, this, [this] { StatusBar1Resize(); });

    // The client area below the menu bar as designed; the frame is the system's.
    resize(LOG_PANE_WIDTH, MainMenu1->sizeHint().height() + LOG_PANE_HEIGHT + STATUS_BAR_HEIGHT);

    link_.set_verbose(false);
    show_usb_status();
    sink_.emplace(*this);
}

TMainForm::~TMainForm() {
    link_.close_instrument();
    sink_.reset();
    if (MainForm == this) MainForm = nullptr;
}

void TMainForm::build_dialogs() {
    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name need not exist; such a file then fails to open.
    OpenDialog1->setFileMode(QFileDialog::AnyFile);
    OpenDialog1->setNameFilters({IMAGE_FILTER});
    OpenDialog1->selectNameFilter(IMAGE_FILTER);
    OpenDialog1->setOption(QFileDialog::HideNameFilterDetails);
    OpenDialog1->setSizeGripEnabled(true);

    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setNameFilters({TEXT_FILTER, ALL_FILTER});
    SaveDialog1->setOption(QFileDialog::HideNameFilterDetails);
    SaveDialog1->setDefaultSuffix(QStringLiteral("CSV"));
    SaveDialog1->setSizeGripEnabled(true);
    last_save_filter_ = TEXT_FILTER;
}

void TMainForm::build_menu() {
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    setMenuBar(MainMenu1);

    File2 = MainMenu1->addMenu(QStringLiteral("&File"));
    File2->setObjectName(QStringLiteral("File2"));
    Open1 = File2->addAction(QStringLiteral("&Open"));
    Open1->setObjectName(QStringLiteral("Open1"));
    ResetTR5181 = File2->addAction(QStringLiteral("Reset Instrument"));
    ResetTR5181->setObjectName(QStringLiteral("ResetTR5181"));
    Save1 = File2->addAction(QStringLiteral("&Save"));
    Save1->setObjectName(QStringLiteral("Save1"));
    N2 = File2->addSeparator();
    N2->setObjectName(QStringLiteral("N2"));
    Exit2 = File2->addAction(QStringLiteral("E&xit"));
    Exit2->setObjectName(QStringLiteral("Exit2"));

    Help1 = MainMenu1->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    About1 = Help1->addAction(QStringLiteral("&About..."));
    About1->setObjectName(QStringLiteral("About1"));

    for (QAction* item : {Open1, ResetTR5181, Save1, Exit2, About1})
        item->setMenuRole(QAction::NoRole);

    connect(Open1, &QAction::triggered, this, [this] { Open1Click(); });
    connect(ResetTR5181, &QAction::triggered, this, [this] { Arm_reset(); });
    connect(Save1, &QAction::triggered, this, [this] { Save1Click(); });
    connect(Exit2, &QAction::triggered, this, [this] { Exit1Click(); });
    connect(About1, &QAction::triggered, this, [this] { About1Click(); });
}

void TMainForm::set_commands_enabled(bool enabled) {
    for (QAction* item : {Open1, ResetTR5181, Save1, About1}) item->setEnabled(enabled);
}

void TMainForm::Exit1Click() {
    run_guarded(this, [this] { close(); });
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // A download running underneath sees this and returns at once.
    terminating_ = true;
    event->accept();
}

void TMainForm::StatusBar1Resize() {
    StatusBar1->set_panel_width(0, StatusBar1->width() - STATUS_RIGHT_PART);
}

void TMainForm::Open1Click() {
    // The transfer lets the window handle events; no second command may start inside it.
    struct CommandsDisabled {
        TMainForm& form;
        explicit CommandsDisabled(TMainForm& f) : form(f) { form.set_commands_enabled(false); }
        ~CommandsDisabled() { form.set_commands_enabled(true); }
    } guard(*this);
    run_guarded(this, [this] { download_firmware(link_, *this); });
}

void TMainForm::Arm_reset() {
    run_guarded(this, [this] { reset_instrument(link_); });
}

void TMainForm::Save1Click() {
    run_guarded(this, [this] {
        SaveDialog1->selectNameFilter(last_save_filter_);
        if (last_save_path_.isEmpty()) {
            SaveDialog1->setDirectory(QDir::currentPath());
            if (auto* name = SaveDialog1->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->clear();
        } else {
            SaveDialog1->selectFile(last_save_path_);
        }
        const std::optional<QString> path = run_file_dialog(*SaveDialog1);
        if (!path) return;
        const QString filter = full_name_filter(*SaveDialog1);
        write_log_file(*RichEdit1, *path);
        last_save_path_ = *path;
        last_save_filter_ = filter;
    });
}

void TMainForm::About1Click() {
    run_guarded(this, [this] {
        const std::unique_ptr<TForm1> box = std::make_unique<TForm1>(link_, this);
        Form1 = box.get();
        box->exec();
    });
}

void TMainForm::append_line(std::string_view line) {
    RichEdit1->append_line(line);
}

void TMainForm::repaint() {
    RichEdit1->repaint_now();
}

std::optional<std::string> TMainForm::choose_image_file() {
    const QString& wanted = options_.image_folder;
    const QString folder = !wanted.isEmpty() && QDir(wanted).exists() ? wanted : QDir::homePath();
    OpenDialog1->setDirectory(folder);
    OpenDialog1->selectNameFilter(IMAGE_FILTER);
    const std::optional<QString> path = run_file_dialog(*OpenDialog1);
    if (!path) return std::nullopt;
    return QFile::encodeName(*path).toStdString();
}

void TMainForm::show_usb_status() {
    StatusBar1->set_panel_text(0, QStringLiteral("USB    "));
    StatusBar1->repaint();
}

void TMainForm::dispatch_pending_events() {
    QCoreApplication::processEvents();
}

void TMainForm::beep() {
    QApplication::beep();
}

}  // namespace quillon
