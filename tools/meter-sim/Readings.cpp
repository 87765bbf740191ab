#include "Readings.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace metersim {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kMeanPowerW = 3000.0;
// Counting starts at 2020-01-01 so the energy register looks lived-in.
constexpr double kMeterEpoch = 1577836800.0;
constexpr double kSecondsPerHour = 3600.0;

double wave(double t, double amplitude, double periodSeconds, double phase) {
    return amplitude * std::sin(kTwoPi * t / periodSeconds + phase);
}

double ratio(int value) { return value == 0 ? 1.0 : value; }

} // namespace

HoldingRegs defaultHoldingRegs() {
    HoldingRegs r{};
    r[kAlarm1Type] = kLineVoltageAB;
    r[kAlarm1PickUp] = 390;
    r[kAlarm1Release] = 385;
    r[kAlarm2Type] = kCurrentA;
    r[kAlarm2PickUp] = 6;
    r[kAlarm2Release] = 5;
    r[kVoltageRatio] = 1;
    r[kCurrentRatio] = 1;
    r[kDisplayMode] = 7;
    r[kWiring] = 1;
    r[kLinePhase] = 0;
    r[kFilter] = 5;
    r[kAddress] = 1;
    r[kBaud] = 1;
    r[kParity] = 0;
    r[kCommDelay] = 0;
    const uint16_t transmitters[3][4] = {
        {kLineVoltageAB, 0, 500, 0}, {kCurrentA, 0, 10, 0}, {kTotalPower, 1, 5000, 1}};
    for (int i = 0; i < 3; ++i) {
        std::copy(std::begin(transmitters[i]), std::end(transmitters[i]),
                  r.begin() + kTransmitter1 + 4 * i);
    }
    return r;
}

Electrical electricalAt(double t, int voltageRatio, int currentRatio) {
    const double kv = ratio(voltageRatio);
    const double ki = ratio(currentRatio);
    Electrical e;
    e.uab = kv * (382.0 + wave(t, 6.0, 300, 0.0) + wave(t, 4.0, 71, 1.0));
    e.ubc = kv * (380.0 + wave(t, 4.0, 420, 2.0) + wave(t, 2.0, 53, 0.5));
    e.uca = kv * (379.0 + wave(t, 4.0, 360, 4.0) + wave(t, 2.0, 61, 2.5));
    e.ia = ki * (5.0 + wave(t, 1.2, 240, 0.3) + wave(t, 0.3, 37, 0.0));
    e.ib = ki * (4.6 + wave(t, 1.0, 330, 1.7) + wave(t, 0.3, 43, 1.0));
    e.ic = ki * (4.8 + wave(t, 1.1, 280, 3.1) + wave(t, 0.3, 29, 2.0));
    const double pfa = 0.90 + wave(t, 0.05, 500, 0.0);
    const double pfb = 0.88 + wave(t, 0.05, 450, 1.0);
    const double pfc = 0.92 + wave(t, 0.04, 550, 2.0);
    const double sqrt3 = std::numbers::sqrt3;
    e.pa = e.uab / sqrt3 * e.ia * pfa;
    e.pb = e.ubc / sqrt3 * e.ib * pfb;
    e.pc = e.uca / sqrt3 * e.ic * pfc;
    e.total = e.pa + e.pb + e.pc;
    e.frequency = 50.0 + wave(t, 0.04, 180, 0.0) + wave(t, 0.01, 23, 0.7);
    return e;
}

double quantity(const Electrical& e, int code) {
    const double sqrt3 = std::numbers::sqrt3;
    switch (code) {
    case 1:
        return (e.uab + e.ubc + e.uca) / (3.0 * sqrt3);
    case 2:
        return e.uab / sqrt3;
    case 3:
        return e.ubc / sqrt3;
    case 4:
        return e.uca / sqrt3;
    case 5:
        return e.uab;
    case 6:
        return e.ubc;
    case 7:
        return e.uca;
    case 8:
        return e.ia;
    case 9:
        return e.ib;
    case 10:
        return e.ic;
    case 11:
        return (e.ia + e.ib + e.ic) / 3.0;
    case 12:
        return e.pa;
    case 13:
        return e.pb;
    case 14:
        return e.pc;
    case 15:
        return e.total;
    default:
        return 0.0;
    }
}

double transmitterOutput(double value, int type, double upper, double lower) {
    const double fraction =
        upper > lower ? std::clamp((value - lower) / (upper - lower), 0.0, 1.0) : 0.0;
    return type == 0 ? 4.0 + 16.0 * fraction : 20.0 * fraction;
}

bool nextRelayState(bool on, double value, double pickUp, double release) {
    if (pickUp >= release) {
        return on ? value > release : value >= pickUp;
    }
    return on ? value < release : value <= pickUp;
}

double energyAfter(double energyKWh, double totalPowerW, double seconds) {
    return energyKWh + totalPowerW / 1000.0 * seconds / kSecondsPerHour;
}

double initialEnergy(double t) {
    return energyAfter(0.0, kMeanPowerW, std::max(0.0, t - kMeterEpoch));
}

Readings readings(const Electrical& e, const HoldingRegs& regs, double energyKWh) {
    Readings out{};
    out[0] = static_cast<float>(e.uab);
    out[1] = static_cast<float>(e.ubc);
    out[2] = static_cast<float>(e.uca);
    out[3] = static_cast<float>(e.ia);
    out[4] = static_cast<float>(e.ib);
    out[5] = static_cast<float>(e.ic);
    out[6] = static_cast<float>(e.pa);
    out[7] = static_cast<float>(e.pb);
    out[8] = static_cast<float>(e.pc);
    out[9] = static_cast<float>(e.total);
    out[10] = static_cast<float>(e.frequency);
    for (int i = 0; i < 3; ++i) {
        const int base = kTransmitter1 + 4 * i;
        const int code = regs[base];
        out[11 + i] = code == kNone
                          ? 0.0f
                          : static_cast<float>(transmitterOutput(quantity(e, code), regs[base + 1],
                                                                 regs[base + 2], regs[base + 3]));
    }
    const double energy = std::max(0.0, energyKWh);
    out[14] = static_cast<float>(std::fmod(energy, kKWhPerCount));
    out[15] = static_cast<float>(std::floor(energy / kKWhPerCount));
    return out;
}

} // namespace metersim
