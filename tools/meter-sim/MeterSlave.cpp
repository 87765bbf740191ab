#include "MeterSlave.h"

#include "Frame.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace metersim {
namespace {

constexpr int kCoilCount = 2;
constexpr int kFloatRegisters = 2 * kReadingCount;
constexpr int kModelRegister = 200;
// Positions in an RTU request: address, function, then the first register and the count.
constexpr int kFunctionAt = 1;
constexpr int kFirstAt = 2;
constexpr int kCountAt = 4;
constexpr int kByteCountAt = 6;
constexpr std::size_t kShortestRequest = 4;
constexpr std::size_t kCrcBytes = 2;

using modbus485::isWrite;

} // namespace

MeterSlave::MeterSlave(HoldingRegs regs)
    : m_holding(regs),
      m_registers(modbus_mapping_new(kCoilCount, 0, kHoldingCount, kFloatRegisters)),
      m_model(modbus_mapping_new_start_address(0, 0, 0, 0, 0, 0, kModelRegister, 1)) {
    if (!m_registers || !m_model) {
        throw std::bad_alloc();
    }
    for (int i = 0; i < kStoredHolding; ++i) {
        m_registers->tab_registers[i] = m_holding[i];
    }
    m_model->tab_input_registers[0] = kModelCode;
    publish();
}

int MeterSlave::address() const {
    const int value = m_holding[kAddress];
    return value >= modbus485::kMinSlave && value <= modbus485::kMaxSlave ? value : 0;
}

void MeterSlave::update(double t) {
    const Electrical e = electricalAt(t, m_holding[kVoltageRatio], m_holding[kCurrentRatio]);
    if (m_energy < 0.0) {
        m_energy = initialEnergy(t);
    } else if (t > m_lastTime) {
        m_energy = energyAfter(m_energy, e.total, t - m_lastTime);
    }
    m_lastTime = t;
    const int alarms[2] = {kAlarm1Type, kAlarm2Type};
    for (int i = 0; i < 2; ++i) {
        const int type = m_holding[alarms[i]];
        m_relays[i] =
            type != kNone && nextRelayState(m_relays[i], quantity(e, type),
                                            m_holding[alarms[i] + 1], m_holding[alarms[i] + 2]);
    }
    m_readings = readings(e, m_holding, m_energy);
    publish();
}

void MeterSlave::publish() {
    for (int i = 0; i < kReadingCount; ++i) {
        uint32_t bits = 0;
        std::memcpy(&bits, &m_readings[i], sizeof bits);
        // High word first, each word big-endian on the wire.
        m_registers->tab_input_registers[2 * i] = static_cast<uint16_t>(bits >> 16);
        m_registers->tab_input_registers[2 * i + 1] = static_cast<uint16_t>(bits & 0xFFFF);
    }
    for (int i = 0; i < kCoilCount; ++i) {
        m_registers->tab_bits[i] = m_relays[i] ? 1 : 0;
    }
}

void MeterSlave::answer(modbus_t* ctx, std::span<const uint8_t> request) {
    // Over TCP the unit identifier ends a header of its own and no CRC follows.
    const auto at = static_cast<std::size_t>(std::max(0, modbus_get_header_length(ctx) - 1));
    const std::size_t checksum = at == 0 ? kCrcBytes : 0;
    if (request.size() < at + kShortestRequest - kCrcBytes + checksum) {
        return;
    }
    const std::span<const uint8_t> body = request.subspan(at);
    const std::size_t length = body.size() + kCrcBytes - checksum;
    const bool broadcast = body[0] == MODBUS_BROADCAST_ADDRESS;
    const int function = body[kFunctionAt];
    // libmodbus would also serve discrete inputs, coil writes and the slave-id report.
    if (!modbus485::isSupported(function)) {
        if (!broadcast) {
            modbus_reply_exception(ctx, request.data(), MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
        }
        return;
    }
    if (length < modbus485::kRequestBytes) {
        return;
    }
    if (refusesWrite(body)) {
        if (!broadcast) {
            modbus_reply_exception(ctx, request.data(), MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE);
        }
        return;
    }
    const bool model = function == modbus485::kReadInput &&
                       MODBUS_GET_INT16_FROM_INT8(body.data(), kFirstAt) >= kModelRegister;
    modbus_reply(ctx, request.data(), static_cast<int>(request.size()),
                 model ? m_model.get() : m_registers.get());
    if (isWrite(function)) {
        takeWrittenRegisters();
    }
}

/// Takes one of the failures asked for, but only for a write libmodbus would carry out: a write
/// outside the map keeps its own exception.
bool MeterSlave::refusesWrite(std::span<const uint8_t> request) {
    const int function = request[kFunctionAt];
    if (m_failWrites <= 0 || !isWrite(function)) {
        return false;
    }
    const int first = MODBUS_GET_INT16_FROM_INT8(request.data(), kFirstAt);
    bool fits = first < kHoldingCount;
    if (function == modbus485::kWriteRegisters) {
        const int count = MODBUS_GET_INT16_FROM_INT8(request.data(), kCountAt);
        fits = count >= 1 && count <= MODBUS_MAX_WRITE_REGISTERS &&
               request[kByteCountAt] == 2 * count && first + count <= kHoldingCount;
    }
    if (fits) {
        --m_failWrites;
    }
    return fits;
}

void MeterSlave::takeWrittenRegisters() {
    for (int i = 0; i < kStoredHolding; ++i) {
        m_holding[i] = m_registers->tab_registers[i];
    }
    // Registers 29-32 take writes but keep nothing.
    for (int i = kStoredHolding; i < kHoldingCount; ++i) {
        m_registers->tab_registers[i] = 0;
    }
}

} // namespace metersim
