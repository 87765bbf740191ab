// Helper process of the recorder fault tests.
//   record LOG START PROGRESS  runs the station's recorder on LOG in a tight loop, its clock one
//                              second further at every step from START (seconds since the epoch,
//                              UTC), and keeps the number of the step begun in the 8-byte file
//                              PROGRESS; prints "ready" once the log is open and runs until killed.
//   hold LOG                   takes the write lock of LOG with an uncommitted insert, prints
//                              "held" and keeps it until a line or end of file on standard input.

#include "FaultLog.h"
#include "common/DayNumber.h"
#include "trend/mscom.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimeZone>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotKilled = 3;
// A test that died before killing us must not leave a recorder running for long.
constexpr qint64 kLifetimeMs = 30000;

/// The step counter shared with the test through the page cache, so it survives SIGKILL.
std::int64_t* mapProgress(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT, 0644);
    if (fd < 0) {
        return nullptr;
    }
    void* memory = MAP_FAILED;
    if (::ftruncate(fd, sizeof(std::int64_t)) == 0) {
        memory = ::mmap(nullptr, sizeof(std::int64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    ::close(fd);
    return memory == MAP_FAILED ? nullptr : static_cast<std::int64_t*>(memory);
}

void say(const char* line) {
    std::puts(line);
    std::fflush(stdout);
}

int record(const QString& logPath, qint64 start, const QByteArray& progressPath) {
    std::int64_t* progress = mapProgress(progressPath);
    if (progress == nullptr) {
        return kExitFailed;
    }
    QDateTime now = QDateTime::fromSecsSinceEpoch(start, QTimeZone::utc());
    common::setClock([&now] { return now; });
    meterlink::SharedState state;
    state.mainWindowLoaded = true;
    trend::mscom recorder(state, nullptr, logPath);
    if (!recorder.log().isOpen()) {
        return kExitFailed;
    }
    say("ready");
    QElapsedTimer running;
    running.start();
    for (std::int64_t step = 1;; ++step) {
        const int second = now.time().msecsSinceStartOfDay() / 1000;
        for (int k = 0; k < faulttest::kFilledValues; ++k) {
            state.store.LiveVal.set(k, faulttest::liveValue(second, k));
        }
        std::atomic_ref<std::int64_t>(*progress).store(step, std::memory_order_release);
        recorder.Timer1_Timer();
        now = now.addSecs(1);
        if (step % 256 == 0 && running.elapsed() > kLifetimeMs) {
            return kExitNotKilled;
        }
    }
}

int hold(const QString& logPath) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("hold"));
    db.setDatabaseName(logPath);
    if (!db.open()) {
        return kExitFailed;
    }
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("BEGIN IMMEDIATE")) ||
            !query.exec(
                QStringLiteral("INSERT INTO pv_data(w_id, w_date, w_time) VALUES(0, 0, 0)"))) {
            return kExitFailed;
        }
        say("held");
        char line[16];
        static_cast<void>(std::fgets(line, sizeof line, stdin));
        query.exec(QStringLiteral("ROLLBACK"));
    }
    db.close();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 5 && arguments[1] == u"record") {
        bool ok = false;
        const qint64 start = arguments[3].toLongLong(&ok);
        return ok ? record(arguments[2], start, arguments[4].toLocal8Bit()) : kExitUsage;
    }
    if (arguments.size() == 3 && arguments[1] == u"hold") {
        return hold(arguments[2]);
    }
    std::fputs("usage: vx310_recorder_crash_child record LOG START PROGRESS | hold LOG\n", stderr);
    return kExitUsage;
}
