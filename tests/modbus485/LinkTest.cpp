// The meter-access library against the real simulator over a pseudo-terminal.

#include "LinkTestConstants.h"
#include "Readings.h"
#include "SimProcess.h"
#include "modbus485.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <thread>

using namespace vx310test;

namespace {

constexpr int32_t kWriteFailed = -8888;
// Hang guard only: the real costs are measured by the benchmarks.
constexpr long long kSilentCallBoundMs = 450;

/// Holding registers first to first + 7 as the simulator starts.
std::array<int32_t, 8> servedHolding(int32_t first) {
    const metersim::HoldingRegs regs = metersim::defaultHoldingRegs();
    std::array<int32_t, 8> block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        const std::size_t r = static_cast<std::size_t>(first - 1) + i;
        block[i] = r < static_cast<std::size_t>(metersim::kStoredHolding) ? regs[r] : 0;
    }
    return block;
}

const std::array<int32_t, 8> kHolding1 = servedHolding(1);
const std::array<int32_t, 8> kHolding9 = servedHolding(9);

std::array<float, 8> floatSentinels() {
    std::array<float, 8> a{};
    a.fill(kFloatSentinel);
    return a;
}

std::array<int32_t, 8> intSentinels() {
    std::array<int32_t, 8> a{};
    a.fill(kIntSentinel);
    return a;
}

class MeterLink : public ::testing::Test {
  protected:
    void startSim(std::vector<std::string> args = {}) {
        m_sim = std::make_unique<SimProcess>(m_dir.path(), std::move(args));
        ASSERT_TRUE(m_sim->ready());
    }

    void SetUp() override {
        startSim();
        ASSERT_EQ(OpenPort_Modbus(kPort, kBaud9600, kParityNone), 0);
    }

    void TearDown() override { ClosePort_Modbus(kPort); }

    std::array<int32_t, 8> holding(int32_t first) {
        auto regs = intSentinels();
        EXPECT_EQ(Get_4X_D8(kPort, kMeter, first, regs.data()), 0);
        return regs;
    }

    TempDir m_dir;
    std::unique_ptr<SimProcess> m_sim;
};

TEST_F(MeterLink, ReadsFloatsHighWordFirst) {
    auto first = floatSentinels();
    auto second = floatSentinels();
    Get_3X_DR8(kPort, kMeter, 1, first.data());
    Get_3X_DR8(kPort, kMeter, 17, second.data());
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(first[i], 380.0f, 20.0f) << "line voltage " << i;
        EXPECT_NEAR(first[3 + i], 5.0f, 3.0f) << "phase current " << i;
    }
    const float total = first[6] + first[7] + second[0];
    EXPECT_NEAR(second[1], total, total * 0.01f);
    EXPECT_NEAR(second[2], 50.0f, 0.2f);
    for (int i = 3; i < 5; ++i) {
        EXPECT_GE(second[i], 4.0f);
        EXPECT_LE(second[i], 20.0f);
    }
    EXPECT_GE(second[6], 0.0f);
    EXPECT_LT(second[6], 10000.0f);
    EXPECT_EQ(second[7], std::floor(second[7]));
}

TEST_F(MeterLink, ReadsTheModelCodeAndSignedHoldingRegisters) {
    EXPECT_EQ(Get_3X_D1(kPort, kMeter, 201), 310);
    EXPECT_EQ(holding(1), kHolding1);
    EXPECT_EQ(holding(9), kHolding9);
    EXPECT_EQ(Set_4X_D1(kPort, kMeter, 5, 0xFFFF), 0);
    EXPECT_EQ(holding(1)[4], -1);
    EXPECT_EQ(Set_4X_D1(kPort, kMeter, 5, -2), 0);
    EXPECT_EQ(holding(1)[4], -2);
}

TEST_F(MeterLink, WritesTheLow16BitsOfTheValue) {
    EXPECT_EQ(Set_4X_D1(kPort, kMeter, 2, 0x12345), 0);
    EXPECT_EQ(holding(1)[1], 0x2345);
    EXPECT_EQ(Set_4X_D1(kPort, kMeter, 2, 0x18000), 0);
    EXPECT_EQ(holding(1)[1], -32768);
}

TEST_F(MeterLink, KeepsRegisters1To28AndReads29To32AsZero) {
    EXPECT_EQ(Set_4X_D1(kPort, kMeter, 28, 4321), 0);
    EXPECT_EQ(Set_4X_D1(kPort, kMeter, 29, 7), 0);
    EXPECT_EQ(Set_4X_D1(kPort, kMeter, 32, 7), 0);
    auto expected = servedHolding(25);
    expected[3] = 4321;
    EXPECT_EQ(holding(25), expected);
}

TEST_F(MeterLink, AlarmCoilsFollowTheAlarmParameters) {
    // Alarm 1 on AB line voltage with both thresholds at zero is always picked up.
    ASSERT_EQ(Set_4X_D1(kPort, kMeter, 1, 5), 0);
    ASSERT_EQ(Set_4X_D1(kPort, kMeter, 2, 0), 0);
    ASSERT_EQ(Set_4X_D1(kPort, kMeter, 3, 0), 0);
    ASSERT_EQ(Set_4X_D1(kPort, kMeter, 4, 0), 0);
    EXPECT_NE(Get_0X_Bit1(kPort, kMeter, 1), 0);
    EXPECT_EQ(Get_0X_Bit1(kPort, kMeter, 2), 0);
    // Raising the release value above the voltage lets it drop out.
    ASSERT_EQ(Set_4X_D1(kPort, kMeter, 2, 9999), 0);
    ASSERT_EQ(Set_4X_D1(kPort, kMeter, 3, 9998), 0);
    EXPECT_EQ(Get_0X_Bit1(kPort, kMeter, 1), 0);
}

TEST_F(MeterLink, ExceptionAnswerToAWriteGivesMinus8888) {
    ASSERT_TRUE(m_sim->command("fail-writes 1"));
    EXPECT_EQ(Set_4X_D1(kPort, kMeter, 2, 111), kWriteFailed);
    EXPECT_EQ(holding(1)[1], 390);
    EXPECT_EQ(Set_4X_D1(kPort, kMeter, 2, 111), 0);
    EXPECT_EQ(holding(1)[1], 111);
    EXPECT_EQ(Set_4X_D1(kPort, kMeter, 40, 1), kWriteFailed);
}

TEST_F(MeterLink, FailedReadsLeaveTheDestinationUntouched) {
    auto floats = floatSentinels();
    auto ints = intSentinels();
    Get_3X_DR8(kPort, kMeter, 25, floats.data());
    Get_4X_D8(kPort, kMeter, 30, ints.data());
    EXPECT_EQ(floats, floatSentinels());
    EXPECT_EQ(ints, intSentinels());
    EXPECT_EQ(Get_3X_D1(kPort, kMeter, 33), 0);
    EXPECT_EQ(Get_0X_Bit1(kPort, kMeter, 3), 0);
}

TEST_F(MeterLink, BadArgumentsFailAtOnceWithoutCrashing) {
    auto floats = floatSentinels();
    auto ints = intSentinels();
    const long long ms = millisecondsTaken([&] {
        EXPECT_EQ(Get_3X_DR8(kPort, kMeter, 1, nullptr), 0.0f);
        EXPECT_NE(Get_4X_D8(kPort, kMeter, 1, nullptr), 0);
        for (int32_t reg : {0, -5, 65530}) {
            Get_3X_DR8(kPort, kMeter, reg, floats.data());
            Get_4X_D8(kPort, kMeter, reg, ints.data());
            EXPECT_EQ(Set_4X_D1(kPort, kMeter, reg == 65530 ? 65537 : reg, 1), kWriteFailed);
            EXPECT_EQ(Get_3X_D1(kPort, kMeter, reg == 65530 ? 65537 : reg), 0);
            EXPECT_EQ(Get_0X_Bit1(kPort, kMeter, reg), 0);
        }
        for (int32_t address : {0, -1, 248}) {
            EXPECT_EQ(Get_3X_D1(kPort, address, 201), 0);
            EXPECT_EQ(Set_4X_D1(kPort, address, 2, 1), kWriteFailed);
        }
    });
    EXPECT_EQ(floats, floatSentinels());
    EXPECT_EQ(ints, intSentinels());
    EXPECT_LT(ms, 100);
    EXPECT_EQ(Get_3X_D1(kPort, kMeter, 201), 310);
}

TEST_F(MeterLink, OtherAddressesGetNoAnswerUntilTheMeterMovesThere) {
    auto ints = intSentinels();
    EXPECT_NE(Get_4X_D8(kPort, 2, 1, ints.data()), 0);
    ASSERT_EQ(Set_4X_D1(kPort, kMeter, 13, 7), 0);
    EXPECT_NE(Get_4X_D8(kPort, kMeter, 1, ints.data()), 0);
    EXPECT_EQ(ints, intSentinels());
    EXPECT_EQ(Get_3X_D1(kPort, 7, 201), 310);
}

TEST_F(MeterLink, SilentMeterFailsEveryCallWithinItsBound) {
    // Alarm 1 picked up for good, so a silent coil read is told apart from an OFF relay.
    ASSERT_EQ(Set_4X_D1(kPort, kMeter, 2, 0), 0);
    ASSERT_EQ(Set_4X_D1(kPort, kMeter, 3, 0), 0);
    ASSERT_NE(Get_0X_Bit1(kPort, kMeter, 1), 0);
    ASSERT_EQ(Get_3X_D1(kPort, kMeter, 201), 310);
    ASSERT_TRUE(m_sim->command("silent on"));
    auto floats = floatSentinels();
    auto ints = intSentinels();
    // The scalar reads keep the last state they read: an ON relay is not reported OFF.
    const std::array<long long, 6> costs = {
        millisecondsTaken([&] { Get_3X_DR8(kPort, kMeter, 1, floats.data()); }),
        millisecondsTaken([&] { Get_4X_D8(kPort, kMeter, 1, ints.data()); }),
        millisecondsTaken([&] { EXPECT_EQ(Get_3X_D1(kPort, kMeter, 201), 310); }),
        millisecondsTaken([&] { EXPECT_NE(Get_0X_Bit1(kPort, kMeter, 1), 0); }),
        millisecondsTaken([&] { EXPECT_EQ(Get_0X_Bit1(kPort, kMeter, 2), 0); }),
        millisecondsTaken([&] { EXPECT_EQ(Set_4X_D1(kPort, kMeter, 2, 1), kWriteFailed); }),
    };
    for (long long ms : costs) {
        EXPECT_LT(ms, kSilentCallBoundMs);
    }
    EXPECT_EQ(floats, floatSentinels());
    EXPECT_EQ(ints, intSentinels());
    ASSERT_TRUE(m_sim->command("silent off"));
    EXPECT_EQ(Get_3X_D1(kPort, kMeter, 201), 310);
}

TEST_F(MeterLink, CallsOnAPortNotOpenFailAtOnce) {
    auto floats = floatSentinels();
    auto ints = intSentinels();
    int32_t model = 0;
    auto everyCall = [&](int32_t port) {
        Get_3X_DR8(port, kMeter, 1, floats.data());
        Get_4X_D8(port, kMeter, 1, ints.data());
        EXPECT_EQ(Get_3X_D1(port, kMeter, 201), model);
        EXPECT_EQ(Set_4X_D1(port, kMeter, 2, 1), kWriteFailed);
    };
    EXPECT_LT(millisecondsTaken([&] { everyCall(2); }), 50);
    // A closed port's scalar reads give what they last read there.
    model = Get_3X_D1(kPort, kMeter, 201);
    ASSERT_EQ(model, 310);
    EXPECT_EQ(ClosePort_Modbus(kPort), 0);
    EXPECT_LT(millisecondsTaken([&] { everyCall(kPort); }), 50);
    EXPECT_EQ(floats, floatSentinels());
    EXPECT_EQ(ints, intSentinels());
    EXPECT_NE(ClosePort_Modbus(kPort), 0);
    EXPECT_NE(ClosePort_Modbus(0), 0);
}

TEST_F(MeterLink, OpenFailsForPortsWithoutADeviceAndForBadChoices) {
    EXPECT_EQ(OpenPort_Modbus(0, kBaud9600, kParityNone), -1);
    EXPECT_EQ(OpenPort_Modbus(-3, kBaud9600, kParityNone), -1);
    EXPECT_EQ(OpenPort_Modbus(9999, kBaud9600, kParityNone), -1);
    EXPECT_EQ(OpenPort_Modbus(2, 3, kParityNone), -1);
    EXPECT_EQ(OpenPort_Modbus(2, kBaud9600, -1), -1);
    EXPECT_EQ(Get_3X_D1(9999, kMeter, 201), 0);
}

TEST_F(MeterLink, ServesSeveralPortsAtOnce) {
    SimProcess second(m_dir.path(), {"--port", "2"});
    ASSERT_TRUE(second.ready());
    ASSERT_EQ(OpenPort_Modbus(2, kBaud9600, kParityNone), 0);
    ASSERT_EQ(Set_4X_D1(2, kMeter, 13, 9), 0);
    EXPECT_EQ(Get_3X_D1(2, 9, 201), 310);
    EXPECT_EQ(Get_3X_D1(kPort, kMeter, 201), 310);
    EXPECT_EQ(ClosePort_Modbus(2), 0);
    EXPECT_EQ(Get_3X_D1(kPort, kMeter, 201), 310);
}

class MeterLinkSettings : public MeterLink {
  protected:
    void SetUp() override { startSim({"--baud", "19200", "--parity", "even"}); }
};

TEST_F(MeterLinkSettings, ReopensAnOpenPortWithNewSettings) {
    auto ints = intSentinels();
    ASSERT_EQ(OpenPort_Modbus(kPort, kBaud9600, kParityNone), 0);
    EXPECT_NE(Get_4X_D8(kPort, kMeter, 1, ints.data()), 0);
    ASSERT_EQ(OpenPort_Modbus(kPort, 2, kParityNone), 0);
    EXPECT_NE(Get_4X_D8(kPort, kMeter, 1, ints.data()), 0);
    EXPECT_EQ(ints, intSentinels());
    ASSERT_EQ(OpenPort_Modbus(kPort, 2, 2), 0);
    EXPECT_EQ(holding(1), kHolding1);
}

TEST_F(MeterLink, AnswerJustLaterThanTheTimeoutIsDiscarded) {
    // 200 ms, the wire time of the exchange and of the sync the first call after an open makes.
    ASSERT_TRUE(m_sim->command("delay 260"));
    auto ints = intSentinels();
    Get_4X_D8(kPort, kMeter, 1, ints.data());
    EXPECT_EQ(ints, intSentinels());
    ASSERT_TRUE(m_sim->command("delay 0"));
    EXPECT_EQ(holding(9), kHolding9);
}

TEST_F(MeterLink, LateAnswerNeverStandsInForALaterRequest) {
    ASSERT_TRUE(m_sim->command("delay 700"));
    const auto asked = std::chrono::steady_clock::now();
    auto first = intSentinels();
    Get_4X_D8(kPort, kMeter, 1, first.data());
    EXPECT_EQ(first, intSentinels());
    ASSERT_TRUE(m_sim->command("delay 0"));
    // The next request waits right across the moment the late reply comes in.
    std::this_thread::sleep_until(asked + std::chrono::milliseconds(560));
    // Keep asking the same kind of question while the late reply is on its way: only the
    // register numbers tell its answer apart, and every answer taken must be the right one.
    int answered = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
    while (std::chrono::steady_clock::now() < until) {
        auto regs = intSentinels();
        if (Get_4X_D8(kPort, kMeter, 9, regs.data()) == 0) {
            EXPECT_EQ(regs, kHolding9);
            ++answered;
        } else {
            EXPECT_EQ(regs, intSentinels());
        }
    }
    EXPECT_GT(answered, 0);
}

} // namespace
