// The publisher against a real local broker: catch-up of a full ring, and the cost of following
// a live station (CPU share and resident memory of the publisher's process).

#include "FullRing.h"
#include "MqttBroker.h"

#include "link/MeasurementStore.h"
#include "trend/ReadingLog.h"
#include "trend/Recorder.h"
#include "trend/TrendState.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <unistd.h>

namespace {

const QString kStation = QStringLiteral("bench");
constexpr std::size_t kFullRing = trend::kRingSize;

struct Setup {
    QTemporaryDir dir;
    QString log = dir.filePath(QStringLiteral("Rdatabj.db"));
    QString state = dir.filePath(QStringLiteral("publish.state"));
    mqtttest::MqttBroker broker{dir.path()};
    bool ready = false;

    Setup() { ready = benchring::makeFullRing(log, "i * %1 + %2") && broker.start(); }

    [[nodiscard]] QStringList arguments() const {
        return {QStringLiteral("--broker"), broker.url(), QStringLiteral("--station"), kStation,
                QStringLiteral("--log"), log, QStringLiteral("--state"), state};
    }
};

std::size_t snapshotCount(const mqtttest::Subscriber& subscriber) {
    std::size_t count = 0;
    for (const auto& message : subscriber.messages()) {
        count += message.topic.endsWith(u"/snapshot");
    }
    return count;
}

/// CPU seconds (user + system) the process has used so far.
double cpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

/// A line of /proc/<pid>/status in megabytes (VmRSS, VmHWM).
double statusMegabytes(qint64 pid, const char* field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(line.indexOf(':') + 1).simplified().split(' ').value(0).toDouble() /
                   1024.0;
        }
    }
    return 0;
}

void CatchUpOfAFullRing(benchmark::State& state) {
    Setup setup;
    if (!setup.ready) {
        state.SkipWithError("no full ring or no broker");
        return;
    }
    for (auto _ : state) {
        QFile::remove(setup.state);
        mqtttest::Subscriber subscriber(setup.broker.port(), {QStringLiteral("vx310/#")});
        subscriber.waitSubscribed();
        QProcess publisher;
        QElapsedTimer clock;
        clock.start();
        publisher.start(QStringLiteral(VX310_PUBLISH_PATH),
                        setup.arguments() << QStringLiteral("--once"));
        if (!publisher.waitForFinished(120000) || publisher.exitCode() != 0) {
            state.SkipWithError("the publisher failed");
            return;
        }
        state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        // Every snapshot reached a subscriber too.
        mqtttest::waitUntil([&] { return snapshotCount(subscriber) >= kFullRing; }, 60000);
        state.counters["delivered"] = static_cast<double>(snapshotCount(subscriber));
    }
    state.counters["snapshots_per_s"] =
        benchmark::Counter(static_cast<double>(kFullRing) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(CatchUpOfAFullRing)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

/// The recorder writes a snapshot a second, its timer ticking every 100 ms as in the station;
/// the publisher follows. Seconds measured: VX310_FOLLOW_SECONDS, 60 by default.
void FollowingALiveStation(benchmark::State& state) {
    Setup setup;
    if (!setup.ready) {
        state.SkipWithError("no full ring or no broker");
        return;
    }
    const int seconds = qEnvironmentVariableIsSet("VX310_FOLLOW_SECONDS")
                            ? qEnvironmentVariableIntValue("VX310_FOLLOW_SECONDS")
                            : 60;
    meterlink::SharedState shared;
    trend::ReadingLog recorderLog(QStringLiteral("bench-recorder"), setup.log);
    if (!recorderLog.open()) {
        state.SkipWithError("cannot open the log for recording");
        return;
    }
    trend::Recorder recorder(recorderLog, shared);
    for (auto _ : state) {
        mqtttest::Subscriber subscriber(setup.broker.port(), {QStringLiteral("vx310/#")});
        subscriber.waitSubscribed();
        QProcess publisher;
        publisher.start(QStringLiteral(VX310_PUBLISH_PATH), setup.arguments());
        if (!publisher.waitForStarted()) {
            state.SkipWithError("the publisher did not start");
            return;
        }
        // Caught up with the ring first; then only the live snapshots count.
        mqtttest::waitUntil([&] { return snapshotCount(subscriber) >= kFullRing; }, 120000);
        const qint64 pid = publisher.processId();
        const double cpuBefore = cpuSeconds(pid);
        const std::size_t before = snapshotCount(subscriber);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < seconds * 1000LL) {
            recorder.step();
            QThread::msleep(100);
        }
        const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        const double cpu = cpuSeconds(pid) - cpuBefore;
        state.SetIterationTime(wall);
        state.counters["cpu_percent"] = 100.0 * cpu / wall;
        state.counters["rss_mb"] = statusMegabytes(pid, "VmRSS");
        state.counters["peak_rss_mb"] = statusMegabytes(pid, "VmHWM");
        mqtttest::waitUntil([&] { return snapshotCount(subscriber) >= before + 1; }, 5000);
        state.counters["live_snapshots"] = static_cast<double>(snapshotCount(subscriber) - before);
        publisher.terminate();
        publisher.waitForFinished(10000);
    }
}
BENCHMARK(FollowingALiveStation)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
