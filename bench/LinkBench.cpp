// Cost of each meter-access call against the real simulator over a pty at 9600 baud; the
// simulator holds each reply back by the time request and reply would take on a real line.
// Also what a misbehaving meter costs: a call while it is silent, the first answered call when it
// comes back, and a tick once a consistently late meter is learned.

#include "SimProcess.h"
#include "link/Met1.h"
#include "modbus485.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

constexpr int32_t kPort = 1;
constexpr int32_t kMeter = 1;

vx310test::SimProcess* g_sim = nullptr;

void BM_OpenPort(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(OpenPort_Modbus(kPort, 1, 0));
    }
}

void BM_Get_3X_DR8(benchmark::State& state) {
    float dest[8] = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(Get_3X_DR8(kPort, kMeter, 1, dest));
    }
}

void BM_Get_4X_D8(benchmark::State& state) {
    int32_t dest[8] = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(Get_4X_D8(kPort, kMeter, 1, dest));
    }
}

void BM_Get_3X_D1(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(Get_3X_D1(kPort, kMeter, 201));
    }
}

void BM_Get_0X_Bit1(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(Get_0X_Bit1(kPort, kMeter, 1));
    }
}

void BM_Set_4X_D1(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(Set_4X_D1(kPort, kMeter, 16, 0));
    }
}

/// The five calls of one acquisition tick.
void BM_AcquisitionTick(benchmark::State& state) {
    float reg[16] = {};
    for (auto _ : state) {
        Get_3X_DR8(kPort, kMeter, 1, reg);
        Get_3X_DR8(kPort, kMeter, 17, reg + 8);
        benchmark::DoNotOptimize(Get_3X_D1(kPort, kMeter, 201));
        benchmark::DoNotOptimize(Get_0X_Bit1(kPort, kMeter, 1));
        benchmark::DoNotOptimize(Get_0X_Bit1(kPort, kMeter, 2));
    }
}

/// The station's own acquisition tick: the same five calls through the run-time loaded library,
/// with its yields to pending events.
void BM_Met1Tick(benchmark::State& state) {
    meterlink::SharedState shared;
    shared.store.PortSet.set(meterlink::kPortNumber, kPort);
    shared.store.PortSet.set(meterlink::kMeterAddress, kMeter);
    meterlink::MeterAccess meter(QStringLiteral(METER_LIBRARY));
    meterlink::Met1 met1(shared, meter);
    for (auto _ : state) {
        met1.Timer1_Timer();
    }
    benchmark::DoNotOptimize(shared.store.LiveVal.value(0));
}

void BM_SilentMeter_Get_3X_DR8(benchmark::State& state) {
    g_sim->command("silent on");
    float dest[8] = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(Get_3X_DR8(kPort, kMeter, 1, dest));
    }
    g_sim->command("silent off");
}

/// The first call answered after three seconds of a silent meter: one exchange, with the sync
/// that makes sure no answer to a call made during the silence can stand in for it.
void BM_FirstAnsweredCallAfterSilence(benchmark::State& state) {
    float dest[8] = {};
    int answered = 0;
    for (auto _ : state) {
        state.PauseTiming();
        g_sim->command("silent on");
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (std::chrono::steady_clock::now() < until) {
            Get_3X_DR8(kPort, kMeter, 1, dest);
            Get_3X_DR8(kPort, kMeter, 17, dest);
        }
        g_sim->command("silent off");
        state.ResumeTiming();
        answered += Get_3X_DR8(kPort, kMeter, 1, dest) != 0.0f ? 1 : 0;
    }
    state.counters["answered"] = answered;
}

/// One acquisition tick against a meter that answers every request 350 ms late, once the link has
/// learned it (two ticks before the timing).
void BM_AcquisitionTick_350msLateMeter(benchmark::State& state) {
    g_sim->command("delay 350");
    float reg[16] = {};
    const auto tick = [&] {
        int answered = 0;
        answered += Get_3X_DR8(kPort, kMeter, 1, reg) != 0.0f ? 1 : 0;
        answered += Get_3X_DR8(kPort, kMeter, 17, reg + 8) != 0.0f ? 1 : 0;
        benchmark::DoNotOptimize(Get_3X_D1(kPort, kMeter, 201));
        benchmark::DoNotOptimize(Get_0X_Bit1(kPort, kMeter, 1));
        benchmark::DoNotOptimize(Get_0X_Bit1(kPort, kMeter, 2));
        return answered;
    };
    tick();
    tick();
    int answered = 0;
    for (auto _ : state) {
        answered += tick();
    }
    state.counters["blocks_answered_per_tick"] =
        benchmark::Counter(answered, benchmark::Counter::kAvgIterations);
    g_sim->command("delay 0");
}

BENCHMARK(BM_OpenPort)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Get_3X_DR8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Get_4X_D8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Get_3X_D1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Get_0X_Bit1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Set_4X_D1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AcquisitionTick)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Met1Tick)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SilentMeter_Get_3X_DR8)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_FirstAnsweredCallAfterSilence)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(BM_AcquisitionTick_350msLateMeter)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    vx310test::TempDir dir;
    vx310test::SimProcess sim(dir.path(), {"--port", "1", "--baud", "9600", "--wire-time"});
    if (!sim.ready() || OpenPort_Modbus(kPort, 1, 0) != 0) {
        std::fprintf(stderr, "vx310-bench-link: the meter simulator did not start\n");
        return 1;
    }
    g_sim = &sim;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ClosePort_Modbus(kPort);
    return 0;
}
