// The simulator as a program: its arguments, its lifetime and an independent Modbus master.

#include "SimProcess.h"
#include "modbus485.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include <unistd.h>

using vx310test::runProgram;
using vx310test::RunResult;
using vx310test::SimProcess;
using vx310test::TempDir;

namespace {

constexpr auto kRunTimeout = std::chrono::seconds(5);

TEST(MeterSimCommandLine, RejectsBadArgumentsWithOneLineAndStatus2) {
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--baud", "1200"}, "--baud wants 4800, 9600 or 19200"},
        {{"--baud"}, "Missing value after '--baud'. (try --help)"},
        {{"--parity", "mark"}, "--parity wants none, odd or even"},
        {{"--port", "0"}, "--port wants a number from 1 to 999"},
        {{"--port", "x"}, "--port wants a number from 1 to 999"},
        {{"--delay", "-5"}, "--delay wants milliseconds"},
        {{"--delay", "99999999"}, "--delay wants milliseconds"},
        {{"--delay", "400-300"}, "--delay wants milliseconds"},
        {{"--delay", "330,"}, "--delay wants milliseconds"},
        {{"--fail-writes", "many"}, "--fail-writes wants a count of writes"},
        {{"--frobnicate"}, "Unknown option 'frobnicate'. (try --help)"},
        {{"stray"}, "unexpected argument 'stray' (try --help)"},
        {{"--port", "2", "--device", "/dev/null"}, "give one of --port, --device, --tcp and --rtu-over-tcp"},
        // A repeated option is refused like in every other tool, good values or not.
        {{"--port", "2", "--port", "3"}, "--port given twice (try --help)"},
        {{"--delay", "5", "--delay", "x"}, "--delay given twice (try --help)"},
        {{"--device", "/dev/null", "--device", "/dev/zero"}, "--device given twice (try --help)"},
    };
    // Nothing taken by mistake for a good start leaves a link behind.
    TempDir dir;
    setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
    for (const auto& c : cases) {
        std::vector<std::string> argv = {VX310_METER_SIM};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const RunResult r = runProgram(argv, kRunTimeout);
        std::string shown;
        for (const std::string& a : c.args) {
            shown += a + " ";
        }
        EXPECT_EQ(r.exitStatus, 2) << shown;
        EXPECT_TRUE(r.out.empty()) << shown;
        // The one-line form every tool of ours complains in.
        EXPECT_TRUE(r.err.starts_with("vx310-meter-sim: ") && r.err.ends_with("\n")) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << shown << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << shown << ": " << r.err;
    }
}

TEST(MeterSimCommandLine, PrintsUsageOnHelpWithEveryOptionAndStartsNothing) {
    TempDir dir;
    setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
    for (const char* help : {"--help", "-h"}) {
        const RunResult r = runProgram({VX310_METER_SIM, help}, kRunTimeout);
        EXPECT_EQ(r.exitStatus, 0) << help;
        EXPECT_TRUE(r.err.empty()) << r.err;
        EXPECT_TRUE(r.out.starts_with("Usage: ")) << r.out;
        for (const char* option :
             {"--port", "--device", "--baud", "--parity", "--silent", "--delay", "--fail-writes",
              "--wire-time", "--freeze", "--version", "silent on|off", "LO-HI"}) {
            EXPECT_NE(r.out.find(option), std::string::npos) << option;
        }
        EXPECT_EQ(r.out.find("ready"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/modbus485"));
}

TEST(MeterSimCommandLine, PrintsItsNameAndTheProjectVersion) {
    for (const char* version : {"--version", "-v"}) {
        const RunResult r = runProgram({VX310_METER_SIM, version}, kRunTimeout);
        EXPECT_EQ(r.exitStatus, 0) << version;
        EXPECT_EQ(r.out, std::string("vx310-meter-sim ") + VX310_VERSION + "\n");
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
}

TEST(MeterSimCommandLine, OutlivesItsStdinAndRemovesItsLinkOnSigterm) {
    TempDir dir;
    SimProcess sim(dir.path(), {"--port", "4"});
    ASSERT_TRUE(sim.ready());
    EXPECT_EQ(sim.linkPath(), dir.path() + "/modbus485/com4");
    EXPECT_TRUE(std::filesystem::is_symlink(sim.linkPath()));
    sim.closeStdin();
    ASSERT_EQ(OpenPort_Modbus(4, 1, 0), 0);
    EXPECT_EQ(Get_3X_D1(4, 1, 201), 310);
    ClosePort_Modbus(4);
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(sim.linkPath())));
}

std::string mbpollPath() {
    for (const char* candidate : {"/usr/bin/mbpoll", "/usr/local/bin/mbpoll"}) {
        if (access(candidate, X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

/// The values of lines like "[3]: 	377.735" in mbpoll's output, by reference number.
std::map<int, double> mbpollValues(const std::string& out) {
    std::map<int, double> values;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        int reference = 0;
        double value = 0;
        if (std::sscanf(line.c_str(), "[%d]: %lf", &reference, &value) == 2) {
            values[reference] = value;
        }
    }
    return values;
}

TEST(MeterSimFloats, IndependentMasterReadsTheSameFloatsAsTheLibrary) {
    const std::string mbpoll = mbpollPath();
    if (mbpoll.empty()) {
        GTEST_SKIP() << "mbpoll is not installed";
    }
    TempDir dir;
    SimProcess sim(dir.path(), {"--port", "6"});
    ASSERT_TRUE(sim.ready());
    const RunResult r =
        runProgram({mbpoll, "-m", "rtu", "-a", "1", "-b", "9600", "-P", "none", "-t", "3:float",
                    "-B", "-r", "1", "-c", "16", "-1", sim.linkPath()},
                   kRunTimeout);
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    const auto polled = mbpollValues(r.out);
    ASSERT_EQ(polled.size(), 16u) << r.out;
    EXPECT_NEAR(polled.at(1), 380, 20);
    EXPECT_NEAR(polled.at(21), 50, 0.2);
    EXPECT_NEAR(polled.at(19), polled.at(13) + polled.at(15) + polled.at(17), 1.0);

    ASSERT_EQ(OpenPort_Modbus(6, 1, 0), 0);
    std::array<float, 16> ours{};
    Get_3X_DR8(6, 1, 1, ours.data());
    Get_3X_DR8(6, 1, 17, ours.data() + 8);
    ClosePort_Modbus(6);
    // Readings drift slowly, so moments apart they agree closely but not exactly.
    const std::array<double, 16> tolerance = {1,  1,  1,    0.2, 0.2, 0.2, 30,  30,
                                              30, 90, 0.01, 0.5, 0.5, 0.5, 0.1, 0};
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(ours[i], polled.at(1 + 2 * i), tolerance[i] + 1e-3) << "reading " << i;
    }
}

} // namespace
