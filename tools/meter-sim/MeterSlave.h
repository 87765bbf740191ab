#pragma once

// The meter's Modbus side: register map, relays, energy and the fault switches of tests.

#include "Readings.h"

#include <modbus/modbus.h>

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace metersim {

using Frame = std::vector<uint8_t>;

/// The meter's registers as libmodbus mappings, kept in step with its readings and relays.
class MeterSlave {
  public:
    explicit MeterSlave(HoldingRegs regs = defaultHoldingRegs());

    /// Moves the readings, the energy and the relays on to unix time t.
    void update(double t);

    /// Answers one request through ctx, an RTU frame whose CRC holds or an MBAP one framed by a
    /// TCP context; a broadcast is carried out unanswered.
    void answer(modbus_t* ctx, std::span<const uint8_t> request);

    /// Answers the next n writes with exception 04.
    void failNextWrites(int n) { m_failWrites = n; }

    /// The address in holding register 13, or 0 (broadcasts only) when it is no slave address.
    int address() const;
    const HoldingRegs& holding() const { return m_holding; }
    const Readings& currentReadings() const { return m_readings; }
    bool relay(int index) const { return m_relays[index]; }

  private:
    struct MappingFree {
        void operator()(modbus_mapping_t* mapping) const { modbus_mapping_free(mapping); }
    };
    using Mapping = std::unique_ptr<modbus_mapping_t, MappingFree>;

    bool refusesWrite(std::span<const uint8_t> request);
    void takeWrittenRegisters();
    void publish();

    HoldingRegs m_holding;
    Readings m_readings{};
    std::array<bool, 2> m_relays{};
    double m_energy = -1.0;
    double m_lastTime = 0.0;
    int m_failWrites = 0;
    // Coils, holding registers and the measurement block.
    Mapping m_registers;
    // The model code sits apart from the measurement block, and a mapping holds one block.
    Mapping m_model;
};

} // namespace metersim
