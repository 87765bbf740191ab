#pragma once

// The meter's Modbus side: register map, relays, energy and the fault switches of tests.

#include "Readings.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace metersim {

using Frame = std::vector<uint8_t>;

/// Modbus CRC-16 (polynomial 0xA001, initial 0xFFFF), low byte sent first.
uint16_t crc16(std::span<const uint8_t> bytes);

/// Length of the request at the start of buf: 0 while it cannot be known yet, -1 if unknown.
int requestLength(std::span<const uint8_t> buf);

class MeterSlave {
  public:
    explicit MeterSlave(HoldingRegs regs = defaultHoldingRegs());

    /// Moves the readings, the energy and the relays on to unix time t.
    void update(double t);

    /// The reply to one CRC-checked request frame; empty when the meter stays silent.
    Frame handle(std::span<const uint8_t> frame);

    /// Answers the next n writes with exception 04.
    void failNextWrites(int n) { m_failWrites = n; }

    uint8_t address() const { return static_cast<uint8_t>(m_holding[kAddress]); }
    const HoldingRegs& holding() const { return m_holding; }
    const Readings& currentReadings() const { return m_readings; }
    bool relay(int index) const { return m_relays[index]; }

  private:
    Frame readCoils(uint16_t first, uint16_t count) const;
    Frame readHolding(uint16_t first, uint16_t count) const;
    Frame readInput(uint16_t first, uint16_t count) const;
    Frame writeHolding(uint16_t first, std::span<const uint8_t> values);

    HoldingRegs m_holding;
    Readings m_readings{};
    std::array<bool, 2> m_relays{};
    double m_energy = -1.0;
    double m_lastTime = 0.0;
    int m_failWrites = 0;
};

} // namespace metersim
