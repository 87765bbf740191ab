#include "app/Station.h"

#include <QApplication>
#include <QFont>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    application.setApplicationName(QStringLiteral("vx310"));
    // The station ends only through "退出": hiding the main window for the configuration window
    // must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setFont(QFont(QStringLiteral("SimSun"), 9));

    app::Station station;
    station.start();
    return QApplication::exec();
}
