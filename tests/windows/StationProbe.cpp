// vx310-station-probe: the station as vx310.exe runs it, with "打开" pressed on its default port
// (1, COM1) once the main window is up. It ends when its reading log holds the number of snapshots
// given (default 3) or after 30 s, closing the link first, and says where the log was:
//   log PATH
//   recorded N
// Exit status 0 when the snapshots were recorded.

#include "app/Station.h"
#include "link/LinkPanel.h"
#include "monitor/ssqx.h"
#include "trend/ReadingLogFiles.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kStartMs = 10000;
constexpr int kRecordMs = 30000;
constexpr int kLookMs = 250;

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

/// Snapshots in the log that hold a reading.
int recordedSnapshots(const QString& path) {
    int count = 0;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("probe"));
        QString error;
        if (trend::openReadingLogReadOnly(db, path, &error)) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("select count(*) from pv_data where w_v0 <> 0")) &&
                q.next()) {
                count = q.value(0).toInt();
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
    return count;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int wanted = argc > 1 ? std::atoi(argv[1]) : 3;
    const QString log = trend::readingLogPath();

    app::Station station;
    station.setEndProcess([] {});
    station.start();
    if (!waitUntil([&] { return station.mainWindow() != nullptr; }, kStartMs)) {
        std::fprintf(stderr, "no main window\n");
        return 1;
    }
    monitor::ssqx& main = *station.mainWindow();
    main.m_linkPanel->Command9->click();
    int recorded = 0;
    QElapsedTimer sinceLook;
    sinceLook.start();
    const bool done = waitUntil(
        [&] {
            if (sinceLook.elapsed() < kLookMs) {
                return false;
            }
            sinceLook.restart();
            recorded = recordedSnapshots(log);
            return recorded >= wanted;
        },
        kRecordMs);
    main.m_linkPanel->Command10->click();
    std::printf("log %s\nrecorded %d\n", qUtf8Printable(QDir::toNativeSeparators(log)), recorded);
    return done ? 0 : 1;
}
