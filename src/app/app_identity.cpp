#include "app/app_identity.h"

#include <QApplication>
#include <QIcon>
#include <QString>

#define QUILLON_FILE_VERSION "1.0.0.7"
#define QUILLON_PRODUCT_VERSION "1.0.0.7"
#define QUILLON_FILE_DESCRIPTION "Downloads Code to TR-518 or TR-760"
#define QUILLON_PRODUCT_NAME "Quillon_760"
#define QUILLON_COMMENTS "erases more"
#define QUILLON_COMPANY_NAME "Quillon Instruments"
#define QUILLON_LEGAL_COPYRIGHT "Copyright (C) 2024 Quillon Instruments"

namespace quillon {
namespace {

// The record also as text in a section of its own, so it can be read from the
// executable without running it: readelf -p .quillon_version quillon
[[gnu::used, gnu::section(".quillon_version")]] const char version_text[] =
    "FileVersion=" QUILLON_FILE_VERSION "\n"
    "ProductVersion=" QUILLON_PRODUCT_VERSION "\n"
    "FileDescription=" QUILLON_FILE_DESCRIPTION "\n"
    "ProductName=" QUILLON_PRODUCT_NAME "\n"
    "Comments=" QUILLON_COMMENTS "\n"
    "CompanyName=" QUILLON_COMPANY_NAME "\n"
    "LegalCopyright=" QUILLON_LEGAL_COPYRIGHT "\n";

}  // namespace

const VersionRecord VERSION_RECORD = {
    QUILLON_FILE_VERSION,   QUILLON_PRODUCT_VERSION, QUILLON_FILE_DESCRIPTION,
    QUILLON_PRODUCT_NAME,   QUILLON_COMMENTS,        QUILLON_COMPANY_NAME,
    QUILLON_LEGAL_COPYRIGHT,
};

QIcon application_icon() {
    QIcon icon;
    for (int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/quillon/icons/quillon-%1.png").arg(size), QSize(size, size));
    return icon;
}

void apply_identity(QApplication& app) {
    // The title is the application's name. No display name is set: X11 would append it
    // to every window caption.
    QApplication::setApplicationName(QString::fromLatin1(APPLICATION_TITLE));
    QApplication::setApplicationVersion(QString::fromLatin1(VERSION_RECORD.product_version));
    QApplication::setOrganizationName(QString::fromLatin1(VERSION_RECORD.company_name));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(DESKTOP_FILE_NAME));
    app.setWindowIcon(application_icon());
}

}  // namespace quillon
