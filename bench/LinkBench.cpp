// Cost of each meter-access call against the real simulator over a pty at 9600 baud; the
// simulator holds each reply back by the time request and reply would take on a real line.

#include "SimProcess.h"
#include "link/Met1.h"
#include "modbus485.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

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

BENCHMARK(BM_OpenPort)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Get_3X_DR8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Get_4X_D8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Get_3X_D1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Get_0X_Bit1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Set_4X_D1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AcquisitionTick)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Met1Tick)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SilentMeter_Get_3X_DR8)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

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
