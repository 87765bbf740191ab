// The simulator's measurement maths, free of any I/O.

#include "Readings.h"
#include "DelayPattern.h"
#include "MeterSlave.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace metersim;

namespace {

constexpr double kStart = 1.7e9;

TEST(MeterReadings, TotalPowerIsTheSumOfThePhasesAtAnyTime) {
    for (double t = kStart; t < kStart + 3600; t += 37) {
        const Electrical e = electricalAt(t, 1, 1);
        EXPECT_NEAR(e.total, e.pa + e.pb + e.pc, 1e-9);
        const Readings r = readings(e, defaultHoldingRegs(), 0);
        EXPECT_NEAR(r[9], r[6] + r[7] + r[8], 0.01);
    }
}

TEST(MeterReadings, PhasePowerFollowsPhaseVoltageCurrentAndAPowerFactor) {
    for (double t = kStart; t < kStart + 3600; t += 53) {
        const Electrical e = electricalAt(t, 1, 1);
        const double factor = e.pa / (e.uab / std::numbers::sqrt3 * e.ia);
        EXPECT_GT(factor, 0.8);
        EXPECT_LE(factor, 1.0);
        EXPECT_NEAR(e.uab, 380, 15);
        EXPECT_NEAR(e.frequency, 50, 0.1);
        EXPECT_GT(e.ic, 2.0);
    }
}

TEST(MeterReadings, MoveSmoothlyOverSecondsAndVisiblyOverMinutes) {
    const Electrical now = electricalAt(kStart, 1, 1);
    const Electrical second = electricalAt(kStart + 1, 1, 1);
    EXPECT_LT(std::abs(second.uab - now.uab), 1.0);
    EXPECT_LT(std::abs(second.ia - now.ia), 0.2);
    double low = 1e9;
    double high = -1e9;
    for (double t = kStart; t < kStart + 600; t += 10) {
        low = std::min(low, electricalAt(t, 1, 1).uab);
        high = std::max(high, electricalAt(t, 1, 1).uab);
    }
    EXPECT_GT(high - low, 5.0);
}

TEST(MeterReadings, TransformerRatiosScaleVoltagesCurrentsAndPower) {
    const Electrical base = electricalAt(kStart, 1, 1);
    const Electrical scaled = electricalAt(kStart, 10, 50);
    EXPECT_NEAR(scaled.uab, 10 * base.uab, 1e-6);
    EXPECT_NEAR(scaled.ib, 50 * base.ib, 1e-6);
    EXPECT_NEAR(scaled.total, 500 * base.total, 1e-3);
    EXPECT_NEAR(electricalAt(kStart, 0, 0).uab, base.uab, 1e-9);
}

TEST(MeterReadings, EveryQuantityCodePicksItsOwnValueAndOthersNone) {
    const Electrical e = electricalAt(kStart, 1, 1);
    const double r3 = std::numbers::sqrt3;
    // By code, from 0 (nothing) to one past the last.
    const double expected[] = {0.0,        (e.uab + e.ubc + e.uca) / 3 / r3,
                               e.uab / r3, e.ubc / r3,
                               e.uca / r3, e.uab,
                               e.ubc,      e.uca,
                               e.ia,       e.ib,
                               e.ic,       (e.ia + e.ib + e.ic) / 3,
                               e.pa,       e.pb,
                               e.pc,       e.total,
                               0.0};
    for (int code = 0; code < static_cast<int>(std::size(expected)); ++code) {
        EXPECT_NEAR(quantity(e, code), expected[code], 1e-9) << "code " << code;
    }
    EXPECT_EQ(quantity(e, -1), 0.0);
}

struct RelayCase {
    bool on;
    double value;
    double pickUp;
    double release;
    bool expected;
};

TEST(AlarmRelay, PicksUpAndReleasesWithHysteresis) {
    const RelayCase cases[] = {
        // Alarm on a rise: pick-up 390, release 385.
        {false, 389.9, 390, 385, false},
        {false, 390.0, 390, 385, true},
        {true, 386.0, 390, 385, true},
        {true, 385.0, 390, 385, false},
        {false, 386.0, 390, 385, false},
        // Alarm on a fall: pick-up 3, release 4.
        {false, 3.5, 3, 4, false},
        {false, 3.0, 3, 4, true},
        {true, 3.9, 3, 4, true},
        {true, 4.0, 3, 4, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(nextRelayState(c.on, c.value, c.pickUp, c.release), c.expected)
            << "on=" << c.on << " value=" << c.value << " pick-up=" << c.pickUp
            << " release=" << c.release;
    }
}

TEST(AlarmRelay, FollowsTheAlarmParametersOfTheMeter) {
    HoldingRegs regs = defaultHoldingRegs();
    regs[kAlarm1PickUp] = 0;
    regs[kAlarm1Release] = 0;
    regs[kAlarm2Type] = kNone;
    regs[kAlarm2PickUp] = 0;
    MeterSlave meter(regs);
    meter.update(kStart);
    EXPECT_TRUE(meter.relay(0));
    EXPECT_FALSE(meter.relay(1));
}

struct TransmitterCase {
    double value;
    int type;
    double upper;
    double lower;
    double expected;
};

TEST(Transmitter, ScalesTheQuantityBetweenItsLimits) {
    const TransmitterCase cases[] = {
        {250, 0, 500, 0, 12.0},   {0, 0, 500, 0, 4.0},  {500, 0, 500, 0, 20.0},
        {600, 0, 500, 0, 20.0},   {-5, 0, 500, 0, 4.0}, {250, 1, 500, 0, 10.0},
        {380, 1, 400, 360, 10.0}, {5, 1, 5, 5, 0.0},    {5, 0, 1, 9, 4.0},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(transmitterOutput(c.value, c.type, c.upper, c.lower), c.expected, 1e-9)
            << "value=" << c.value << " type=" << c.type;
    }
}

TEST(Transmitter, OutputsFollowTheTransmitterRegisters) {
    HoldingRegs regs = defaultHoldingRegs();
    // Transmitter 2: mean current, 0-20 mA over 0..10 A; transmitter 3 assigned nothing.
    regs[kTransmitter1 + 4] = kMeanCurrent;
    regs[kTransmitter1 + 5] = 1;
    regs[kTransmitter1 + 8] = kNone;
    const Electrical e = electricalAt(kStart, 1, 1);
    const Readings r = readings(e, regs, 0);
    EXPECT_NEAR(r[11], 4 + 16 * e.uab / 500, 1e-3);
    EXPECT_NEAR(r[12], 20 * (e.ia + e.ib + e.ic) / 3 / 10, 1e-3);
    EXPECT_EQ(r[13], 0.0f);
}

TEST(Energy, AccumulatesFromTotalPowerAndCountsTensOfThousands) {
    EXPECT_NEAR(energyAfter(100.0, 3000.0, 3600.0), 103.0, 1e-9);
    EXPECT_GT(initialEnergy(kStart + 60), initialEnergy(kStart));
    const Readings r = readings(electricalAt(kStart, 1, 1), defaultHoldingRegs(), 123456.5);
    EXPECT_NEAR(r[14], 3456.5f, 0.01f);
    EXPECT_EQ(r[15], 12.0f);

    MeterSlave meter;
    meter.update(kStart);
    const float before = meter.currentReadings()[14];
    meter.update(kStart + 600);
    EXPECT_GT(meter.currentReadings()[14], before);
}

} // namespace

namespace {

TEST(DelayPattern, TakesACycleInTurnAndARangeAtRandom) {
    auto cycle = metersim::DelayPattern::parse("330,400", 60000);
    ASSERT_TRUE(cycle);
    EXPECT_EQ(cycle->next(), 330);
    EXPECT_EQ(cycle->next(), 400);
    EXPECT_EQ(cycle->next(), 330);
    auto range = metersim::DelayPattern::parse("100-3000", 60000);
    ASSERT_TRUE(range);
    for (int i = 0; i < 100; ++i) {
        const int ms = range->next();
        EXPECT_GE(ms, 100);
        EXPECT_LE(ms, 3000);
    }
    for (const char* bad : {"", "-5", "5-", "400-300", "1,,2", "330,", "60001", "0-60001", "x"}) {
        EXPECT_FALSE(metersim::DelayPattern::parse(bad, 60000)) << bad;
    }
}

} // namespace
