#include <QApplication>

#include <gtest/gtest.h>

// Window tests need one application object for the whole run, created before any widget.
int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
