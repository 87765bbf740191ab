#include <QApplication>

#include <gtest/gtest.h>

// Window tests need one application object for the whole run, created before any widget.
int main(int argc, char* argv[]) {
    // Windows under test never need a screen, not even when the suite is only listed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
