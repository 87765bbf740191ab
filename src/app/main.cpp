#include "app/Station.h"
#include "app/StationGuard.h"
#include "trend/ReadingLogFiles.h"

#include <QApplication>
#include <QFont>

#include <cstdio>

#ifdef Q_OS_WIN
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <windows.h>

namespace {

constexpr int kCreateLogMs = 10000;

/// Windows has no launcher script: as the Linux launcher does, the first start has the database
/// tool beside the station create the reading log, without a console window flashing up.
void createReadingLogOnFirstStart() {
    if (QFileInfo::exists(trend::readingLogPath())) {
        return;
    }
    QProcess tool;
    tool.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* arguments) {
        arguments->flags |= CREATE_NO_WINDOW;
    });
    const QDir folder(QCoreApplication::applicationDirPath());
    tool.start(folder.filePath(QStringLiteral("vx310-initdb.exe")),
               {QStringLiteral("--if-missing")});
    if (!tool.waitForFinished(kCreateLogMs) || tool.exitCode() != 0) {
        std::fprintf(stderr, "vx310: no reading log could be created; the station runs without "
                             "recording\n");
    }
}

} // namespace
#endif

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    application.setApplicationName(QStringLiteral("vx310"));
    // The station ends only through "退出": hiding the main window for the configuration window
    // must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setFont(QFont(QStringLiteral("SimSun"), 9));

#ifdef Q_OS_WIN
    createReadingLogOnFirstStart();
#endif

    // A second start on the same log brings the running station to the front instead.
    app::StationGuard guard(trend::readingLogPath());
    switch (guard.claim()) {
    case app::StationGuard::Claim::HandedOver:
        return 0;
    case app::StationGuard::Claim::Unanswered:
        std::fprintf(stderr, "vx310: a station (process %lld) records into %s but does not answer\n",
                     static_cast<long long>(guard.holder()), qUtf8Printable(trend::readingLogPath()));
        return 1;
    case app::StationGuard::Claim::Run:
        break;
    }

    app::Station station;
    guard.setBringToFront([&station] { station.bringToFront(); });
    station.start();
    return QApplication::exec();
}
