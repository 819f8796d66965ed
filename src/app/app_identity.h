#pragma once
// Who the program is: its title, its main caption, its version record and its icon.
class QApplication;
class QIcon;

namespace quillon {

// The name the desktop knows the program by, and the error box's caption.
inline constexpr char APPLICATION_TITLE[] = "Quillon Download Code to TR-518";
// The main window's caption.
inline constexpr char MAIN_CAPTION[] = "Transfer Code to TR-518 or TR-760";
// Matches the desktop entry's file name, so the task list finds its name and icon.
inline constexpr char DESKTOP_FILE_NAME[] = "quillon";

struct VersionRecord {
    const char* file_version;
    const char* product_version;
    const char* file_description;
    const char* product_name;
    const char* comments;
    const char* company_name;
    const char* legal_copyright;
};

extern const VersionRecord VERSION_RECORD;

// The program icon in all its sizes (256, 48, 32 and 16 pixels).
QIcon application_icon();

// Gives the application its title, version, maker and icon.
void apply_identity(QApplication& app);

}  // namespace quillon
