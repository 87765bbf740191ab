// Cost of exporting the whole ring of 65,500 snapshots (about 18 hours) as CSV from a real log
// file into memory, as the selection window and the export tool do.

#include "FullRing.h"
#include "common/DayNumber.h"
#include "trend/ReadingLog.h"
#include "trend/SnapshotExport.h"
#include "trend/TrendState.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

using benchring::kNewestRecord;
using benchring::kNewestTime;

QString g_logPath;

/// The whole ring, oldest to newest snapshot, into a buffer.
void BM_ExportWholeRing(benchmark::State& state) {
    trend::ReadingLog reader(QStringLiteral("ssqx"), g_logPath);
    if (!reader.open()) {
        state.SkipWithError("the log did not open");
        return;
    }
    const QDateTime from = kNewestTime.addSecs(-(trend::kRingSize - 1));
    qint64 bytes = 0;
    for (auto _ : state) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        if (!trend::exportSnapshots(reader, from, kNewestTime, buffer)) {
            state.SkipWithError("the export failed");
            return;
        }
        bytes = buffer.size();
        benchmark::DoNotOptimize(buffer.data().constData());
    }
    state.counters["rows"] = trend::kRingSize;
    state.counters["bytes"] = static_cast<double>(bytes);
}

BENCHMARK(BM_ExportWholeRing)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    QTemporaryDir dir;
    g_logPath = dir.filePath(QStringLiteral("Rdatabj.db"));
    if (!benchring::makeFullRing(g_logPath, "((i * %1) % 50000) / 7.0 + %2")) {
        std::fprintf(stderr, "vx310-bench-export: could not create the full ring\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
