// Cost of the recording step, the history query, one redraw of the trend chart, a step back and a
// ruler move on a full ring of 65,500 snapshots in a real log file. Each call is timed on its own,
// so the report carries the median and the 99th percentile of single calls (p50_us, p99_us) beside
// the mean.

#include "FullRing.h"
#include "common/DayNumber.h"
#include "common/Twips.h"
#include "link/MeasurementStore.h"
#include "trend/HistoryQuery.h"
#include "trend/ReadingLog.h"
#include "trend/Recorder.h"
#include "trend/TrendChart.h"
#include "trend/TrendNavigation.h"
#include "trend/TrendSurface.h"

#include <QApplication>
#include <QDateTime>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimeZone>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

using benchring::kNewestRecord;
using benchring::kNewestTime;
constexpr std::int32_t kWrappingWindowEnd = 100;

QString g_logPath;

/// Runs body once per iteration, timing each call, and reports the median and the 99th
/// percentile of the single calls.
template <typename Body> void timeEachCall(benchmark::State& state, Body&& body) {
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        micros.push_back(elapsed.count() * 1e6);
    }
    if (micros.empty()) {
        return;
    }
    std::sort(micros.begin(), micros.end());
    const auto at = [&micros](double fraction) {
        const auto index = static_cast<std::size_t>(std::ceil(fraction * micros.size())) - 1;
        return micros[std::min(index, micros.size() - 1)];
    };
    state.counters["p50_us"] = at(0.5);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = micros.back();
}

/// The recorder on the full ring with a clock the benchmark steps.
struct RecorderOnRing {
    RecorderOnRing() : log(QStringLiteral("mscom"), g_logPath), recorder(log, state) {
        common::setClock([this] { return now; });
        log.open();
        for (int k = 0; k < 16; ++k) {
            state.store.LiveVal.set(k, 220.0F + static_cast<float>(k));
        }
    }
    ~RecorderOnRing() { common::setClock({}); }
    RecorderOnRing(const RecorderOnRing&) = delete;
    RecorderOnRing& operator=(const RecorderOnRing&) = delete;

    QDateTime now = kNewestTime.addSecs(1);
    meterlink::SharedState state;
    trend::ReadingLog log;
    trend::Recorder recorder;
};

/// Every call writes a snapshot, overwriting the oldest record in place.
void BM_RecordingStepWithSnapshot(benchmark::State& state) {
    RecorderOnRing ring;
    timeEachCall(state, [&ring] {
        ring.now = ring.now.addSecs(1);
        ring.recorder.step();
    });
}

/// The nine ticks of each second that only read the control row.
void BM_RecordingStepWithoutSnapshot(benchmark::State& state) {
    RecorderOnRing ring;
    ring.recorder.step();
    timeEachCall(state, [&ring] { ring.recorder.step(); });
}

void loadWindow(benchmark::State& state, std::int32_t windowEnd, std::int32_t windowLength) {
    trend::ReadingLog reader(QStringLiteral("ssqx"), g_logPath);
    if (!reader.open()) {
        state.SkipWithError("the log did not open");
        return;
    }
    trend::TrendBuffer buffer;
    trend::TrendView view;
    view.windowEnd = windowEnd;
    view.windowLength = windowLength;
    timeEachCall(state,
                 [&] { benchmark::DoNotOptimize(trend::loadHistory(reader, buffer, view)); });
    if (buffer.trendDate.value(windowLength) == 0.0) {
        state.SkipWithError("the window came back short");
    }
}

void BM_LoadHistory(benchmark::State& state) {
    loadWindow(state, kNewestRecord, static_cast<std::int32_t>(state.range(0)));
}

/// Records 1..100 and the last 141 of the ring: the "not between" form scans the table.
void BM_LoadHistoryWrapping(benchmark::State& state) {
    loadWindow(state, kWrappingWindowEnd, trend::kLiveWindowLength);
}

/// Grid and eleven curves of 320 segments each, painted into an image of the chart's size.
void BM_FullRedraw(benchmark::State& state) {
    trend::ReadingLog reader(QStringLiteral("ssqx"), g_logPath);
    trend::TrendBuffer buffer;
    trend::TrendView view;
    view.windowEnd = kNewestRecord;
    view.windowLength = trend::kHistoryWindowLength;
    view.zoomLevel = 4;
    view.viewEnd = trend::kHistoryWindowLength;
    if (!reader.open()) {
        state.SkipWithError("the log did not open");
        return;
    }
    trend::loadHistory(reader, buffer, view);
    trend::TrendSurface surface;
    surface.resize(common::px(trend::kSurfaceWidth), common::px(trend::kSurfaceHeight));
    QImage image(surface.size(), QImage::Format_RGB32);
    std::size_t lines = 0;
    timeEachCall(state, [&] {
        trend::ChartPicture picture = trend::redrawSequence(buffer, view, trend::kFullScaleAtLoad);
        lines = picture.lines.size();
        surface.setLines(std::move(picture.lines));
        QPainter painter(&image);
        surface.paintChart(painter);
    });
    state.counters["lines"] = static_cast<double>(lines);
}

/// "F7 右移" on the full ring: the window a minute further back, loaded and drawn.
void BM_StepBack(benchmark::State& state) {
    trend::ReadingLog reader(QStringLiteral("ssqx"), g_logPath);
    if (!reader.open()) {
        state.SkipWithError("the log did not open");
        return;
    }
    trend::TrendBuffer buffer;
    trend::TrendView view;
    trend::TrendSurface surface;
    surface.resize(common::px(trend::kSurfaceWidth), common::px(trend::kSurfaceHeight));
    QImage image(surface.size(), QImage::Format_RGB32);
    const auto live = [&view] {
        view = trend::TrendView{};
        view.newestRecord = kNewestRecord;
        view.ringWrapped = true;
        trend::returnToLive(view, {});
    };
    live();
    // Every step the full ring offers, through its wrap back to the oldest snapshot.
    timeEachCall(state, [&] {
        if (view.atOldest) {
            live();
        }
        const trend::NavigationRequests requests = trend::stepBack(view);
        if (requests.reload) {
            trend::loadHistory(reader, buffer, view);
        }
        trend::ChartPicture picture = trend::redrawSequence(buffer, view, trend::kFullScaleAtLoad);
        surface.setLines(std::move(picture.lines));
        QPainter painter(&image);
        surface.paintChart(painter);
    });
}

/// One move of the ruler: the point under it and the thirteen read-out labels.
void BM_RulerMove(benchmark::State& state) {
    trend::ReadingLog reader(QStringLiteral("ssqx"), g_logPath);
    trend::TrendBuffer buffer;
    trend::TrendView view;
    view.windowEnd = kNewestRecord;
    view.windowLength = trend::kHistoryWindowLength;
    if (!reader.open()) {
        state.SkipWithError("the log did not open");
        return;
    }
    trend::loadHistory(reader, buffer, view);
    trend::applyZoom(view);
    QWidget host;
    std::vector<QLabel*> labels;
    for (int i = 0; i < 13; ++i) {
        labels.push_back(new QLabel(&host));
    }
    int position = 0;
    timeEachCall(state, [&] {
        position = (position + 150) % trend::kRulerRightEnd;
        const auto index = trend::rulerIndex(view, position);
        const trend::RulerReadOut readOut = trend::rulerReadOut(buffer, index.value_or(0));
        labels[0]->setText(readOut.date.value_or(QString()));
        labels[1]->setText(readOut.time.value_or(QString()));
        for (std::size_t c = 0; c < readOut.values.size(); ++c) {
            labels[c + 2]->setText(readOut.values[c].value_or(QString()));
        }
    });
}

BENCHMARK(BM_RecordingStepWithSnapshot)->Unit(benchmark::kMicrosecond)->UseManualTime();
BENCHMARK(BM_RecordingStepWithoutSnapshot)->Unit(benchmark::kMicrosecond)->UseManualTime();
BENCHMARK(BM_LoadHistory)
    ->Arg(trend::kLiveWindowLength)
    ->Arg(trend::kHistoryWindowLength)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime();
BENCHMARK(BM_LoadHistoryWrapping)->Unit(benchmark::kMicrosecond)->UseManualTime();
BENCHMARK(BM_FullRedraw)->Unit(benchmark::kMicrosecond)->UseManualTime();
BENCHMARK(BM_StepBack)->Unit(benchmark::kMicrosecond)->UseManualTime();
BENCHMARK(BM_RulerMove)->Unit(benchmark::kMicrosecond)->UseManualTime();

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    QTemporaryDir dir;
    g_logPath = dir.filePath(QStringLiteral("Rdatabj.db"));
    if (!benchring::makeFullRing(g_logPath, "(i * %1) % 5000 + %2")) {
        std::fprintf(stderr, "vx310-bench-trend: could not create the full ring\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
