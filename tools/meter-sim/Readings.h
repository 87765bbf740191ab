#pragma once

// The meter's measurements as pure functions of wall-clock time and its parameters.

#include <array>
#include <cstdint>

namespace metersim {

constexpr int kHoldingCount = 32;
// Registers 29-32 exist but hold nothing.
constexpr int kStoredHolding = 28;
constexpr int kReadingCount = 16;
constexpr uint16_t kModelCode = 310;
constexpr double kKWhPerCount = 10000.0;

using HoldingRegs = std::array<uint16_t, kHoldingCount>;
using Readings = std::array<float, kReadingCount>;

/// Holding register r (1-based) lives at index r - 1.
enum Holding : int {
    kAlarm1Type = 0,
    kAlarm1PickUp = 1,
    kAlarm1Release = 2,
    kAlarm2Type = 3,
    kAlarm2PickUp = 4,
    kAlarm2Release = 5,
    kVoltageRatio = 6,
    kCurrentRatio = 7,
    kDisplayMode = 8,
    kWiring = 9,
    kLinePhase = 10,
    kFilter = 11,
    kAddress = 12,
    kBaud = 13,
    kParity = 14,
    kCommDelay = 15,
    kTransmitter1 = 16, // quantity, type, upper, lower; then transmitters 2 and 3
};

/// Quantity codes shared by the alarm and transmitter parameters.
enum Quantity : int {
    kNone = 0,
    kMeanPhaseVoltage = 1,
    kPhaseVoltageA = 2,
    kLineVoltageAB = 5,
    kCurrentA = 8,
    kMeanCurrent = 11,
    kPowerA = 12,
    kTotalPower = 15,
};

/// Instantaneous primary-side values: volts, amps, watts, hertz.
struct Electrical {
    double uab = 0, ubc = 0, uca = 0;
    double ia = 0, ib = 0, ic = 0;
    double pa = 0, pb = 0, pc = 0;
    double total = 0;
    double frequency = 0;
};

HoldingRegs defaultHoldingRegs();

/// The line at unix time t, scaled by the transformer ratios (0 counts as 1).
Electrical electricalAt(double t, int voltageRatio, int currentRatio);

/// The value an alarm or transmitter with this quantity code watches; 0 for unknown codes.
double quantity(const Electrical& e, int code);

/// Transmitter output in mA: type 0 is 4-20, type 1 is 0-20, scaled between lower and upper.
double transmitterOutput(double value, int type, double upper, double lower);

/// Relay state after seeing value: pick-up >= release alarms on a rise, otherwise on a fall.
bool nextRelayState(bool on, double value, double pickUp, double release);

/// Energy register after totalPowerW has flowed for seconds.
double energyAfter(double energyKWh, double totalPowerW, double seconds);

/// Plausible meter energy at unix time t, so restarts continue roughly where they left off.
double initialEnergy(double t);

/// The sixteen input-register floats in map order.
Readings readings(const Electrical& e, const HoldingRegs& regs, double energyKWh);

} // namespace metersim
