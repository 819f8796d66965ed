// The window's tests share one application object, built as the program builds it.
#include "app/app_identity.h"
#include "app/quillon_application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Headless wherever they run, also when the build lists them.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    quillon::QuillonApplication app(argc, argv);
    quillon::apply_identity(app);
    // Closing a test's window must not end a dialog's event loop in a later test.
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
