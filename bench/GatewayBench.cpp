// Cost of the meter-access calls when the meter is behind a gateway on the network: an
// acquisition tick over loopback Modbus TCP against the same tick through libmodbus alone, a
// call while the gateway cannot be reached, and the first call once it is back.

#include "SimProcess.h"
#include "modbus485.h"

#include <benchmark/benchmark.h>
#include <modbus/modbus.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int32_t kMeter = 1;
constexpr int32_t kGatewayPort = 1;
constexpr int32_t kUnreachablePort = 2;
constexpr int32_t kReturningPort = 3;

std::string g_dataHome;
std::string g_simUrl;

void setPort(int32_t port, const std::string& url) {
    std::filesystem::create_directories(g_dataHome + "/modbus485");
    std::ofstream(g_dataHome + "/modbus485/com" + std::to_string(port)) << url << "\n";
}

/// A loopback TCP port nobody listens on now, or a listener (kept in fd) whose backlog is full.
int loopbackPort(int* fd, bool fillBacklog) {
    *fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(*fd, reinterpret_cast<sockaddr*>(&address), size);
    getsockname(*fd, reinterpret_cast<sockaddr*>(&address), &size);
    if (fillBacklog) {
        listen(*fd, 0);
        for (int i = 0; i < 4; ++i) {
            const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(filler, reinterpret_cast<sockaddr*>(&address), size);
        }
    } else {
        close(*fd);
        *fd = -1;
    }
    return ntohs(address.sin_port);
}

/// The five calls of one acquisition tick through the library, the gateway named by port 1.
void BM_GatewayTick(benchmark::State& state) {
    OpenPort_Modbus(kGatewayPort, 1, 0);
    float reg[16] = {};
    for (auto _ : state) {
        Get_3X_DR8(kGatewayPort, kMeter, 1, reg);
        Get_3X_DR8(kGatewayPort, kMeter, 17, reg + 8);
        benchmark::DoNotOptimize(Get_3X_D1(kGatewayPort, kMeter, 201));
        benchmark::DoNotOptimize(Get_0X_Bit1(kGatewayPort, kMeter, 1));
        benchmark::DoNotOptimize(Get_0X_Bit1(kGatewayPort, kMeter, 2));
    }
    ClosePort_Modbus(kGatewayPort);
}

/// The same reads through a libmodbus TCP context on the same simulator.
void BM_RawLibmodbusTcpTick(benchmark::State& state) {
    const auto colon = g_simUrl.rfind(':');
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", std::stoi(g_simUrl.substr(colon + 1)));
    modbus_set_slave(ctx, kMeter);
    if (modbus_connect(ctx) != 0) {
        state.SkipWithError("no connection");
        modbus_free(ctx);
        return;
    }
    uint16_t regs[32] = {};
    uint8_t bits[2] = {};
    for (auto _ : state) {
        modbus_read_input_registers(ctx, 0, 16, regs);
        modbus_read_input_registers(ctx, 16, 16, regs + 16);
        modbus_read_input_registers(ctx, 200, 1, regs);
        modbus_read_bits(ctx, 0, 1, bits);
        modbus_read_bits(ctx, 1, 1, bits + 1);
    }
    modbus_close(ctx);
    modbus_free(ctx);
}

/// One block read while the gateway never accepts the connection.
void BM_UnreachableGatewayCall(benchmark::State& state) {
    int listener = -1;
    setPort(kUnreachablePort, "tcp://127.0.0.1:" + std::to_string(loopbackPort(&listener, true)));
    OpenPort_Modbus(kUnreachablePort, 1, 0);
    float dest[8] = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(Get_3X_DR8(kUnreachablePort, kMeter, 1, dest));
    }
    ClosePort_Modbus(kUnreachablePort);
    close(listener);
}

/// The first call once a gateway that refused connections listens again.
void BM_FirstCallAfterGatewayBack(benchmark::State& state) {
    int unused = -1;
    const std::string address = "127.0.0.1:" + std::to_string(loopbackPort(&unused, false));
    setPort(kReturningPort, "tcp://" + address);
    OpenPort_Modbus(kReturningPort, 1, 0);
    int answered = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Get_3X_D1(kReturningPort, kMeter, 201);
        auto sim = std::make_unique<vx310test::SimProcess>(
            g_dataHome, std::vector<std::string>{"--tcp", address});
        state.ResumeTiming();
        answered += Get_3X_D1(kReturningPort, kMeter, 201) == 310 ? 1 : 0;
        state.PauseTiming();
        sim.reset();
        state.ResumeTiming();
    }
    state.counters["answered"] = answered;
    ClosePort_Modbus(kReturningPort);
}

BENCHMARK(BM_GatewayTick)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawLibmodbusTcpTick)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UnreachableGatewayCall)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_FirstCallAfterGatewayBack)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    vx310test::TempDir dir;
    g_dataHome = dir.path();
    vx310test::SimProcess sim(dir.path(), {"--tcp", "127.0.0.1:0"});
    if (!sim.ready()) {
        std::fprintf(stderr, "vx310-bench-gateway: the meter simulator did not start\n");
        return 1;
    }
    g_simUrl = sim.linkPath();
    setPort(kGatewayPort, g_simUrl);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
