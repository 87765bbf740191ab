#include "MeterSlave.h"

#include <cstring>

namespace metersim {
namespace {

constexpr uint8_t kReadCoils = 0x01;
constexpr uint8_t kReadHolding = 0x03;
constexpr uint8_t kReadInput = 0x04;
constexpr uint8_t kWriteSingle = 0x06;
constexpr uint8_t kWriteMultiple = 0x10;
constexpr uint8_t kIllegalFunction = 0x01;
constexpr uint8_t kIllegalAddress = 0x02;
constexpr uint8_t kIllegalValue = 0x03;
constexpr uint8_t kDeviceFailure = 0x04;
constexpr int kCoilCount = 2;
constexpr int kFloatRegisters = 2 * kReadingCount;
constexpr uint16_t kModelRegister = 200;
constexpr uint8_t kBroadcast = 0;

uint16_t word(std::span<const uint8_t> bytes, std::size_t at) {
    return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

void putWord(Frame& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

Frame exception(uint8_t code) { return {code}; }

} // namespace

uint16_t crc16(std::span<const uint8_t> bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) {
            crc = (crc & 1) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                                 : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

int requestLength(std::span<const uint8_t> buf) {
    if (buf.size() < 2) {
        return 0;
    }
    switch (buf[1]) {
    case kReadCoils:
    case 0x02:
    case kReadHolding:
    case kReadInput:
    case 0x05:
    case kWriteSingle:
        return 8;
    case 0x0F:
    case kWriteMultiple:
        return buf.size() < 7 ? 0 : 9 + buf[6];
    default:
        return -1;
    }
}

MeterSlave::MeterSlave(HoldingRegs regs) : m_holding(regs) {}

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
}

Frame MeterSlave::handle(std::span<const uint8_t> frame) {
    if (frame.size() < 4) {
        return {};
    }
    const uint8_t slave = frame[0];
    if (slave != address() && slave != kBroadcast) {
        return {};
    }
    const uint8_t function = frame[1];
    const auto pdu = frame.subspan(2, frame.size() - 4);
    Frame body;
    switch (function) {
    case kReadCoils:
    case kReadHolding:
    case kReadInput: {
        if (pdu.size() != 4) {
            body = exception(kIllegalValue);
            break;
        }
        const uint16_t first = word(pdu, 0);
        const uint16_t count = word(pdu, 2);
        body = function == kReadCoils     ? readCoils(first, count)
               : function == kReadHolding ? readHolding(first, count)
                                          : readInput(first, count);
        break;
    }
    case kWriteSingle:
        body = pdu.size() == 4 ? writeHolding(word(pdu, 0), pdu.subspan(2, 2))
                               : exception(kIllegalValue);
        if (body.empty()) {
            body.assign(pdu.begin(), pdu.end());
        }
        break;
    case kWriteMultiple: {
        const uint16_t count = pdu.size() >= 5 ? word(pdu, 2) : 0;
        if (count < 1 || count > 123 || pdu.size() != 5u + 2u * count || pdu[4] != 2 * count) {
            body = exception(kIllegalValue);
            break;
        }
        body = writeHolding(word(pdu, 0), pdu.subspan(5));
        if (body.empty()) {
            body.assign(pdu.begin(), pdu.begin() + 4);
        }
        break;
    }
    default:
        body = exception(kIllegalFunction);
        break;
    }
    if (slave == kBroadcast) {
        return {};
    }
    Frame reply{slave, function};
    if (body.size() == 1) {
        reply[1] = static_cast<uint8_t>(function | 0x80);
    }
    reply.insert(reply.end(), body.begin(), body.end());
    const uint16_t crc = crc16(reply);
    reply.push_back(static_cast<uint8_t>(crc & 0xFF));
    reply.push_back(static_cast<uint8_t>(crc >> 8));
    return reply;
}

Frame MeterSlave::readCoils(uint16_t first, uint16_t count) const {
    if (count < 1 || count > 2000) {
        return exception(kIllegalValue);
    }
    if (first + count > kCoilCount) {
        return exception(kIllegalAddress);
    }
    uint8_t bits = 0;
    for (int i = 0; i < count; ++i) {
        bits |= static_cast<uint8_t>(m_relays[first + i] ? 1 << i : 0);
    }
    return {1, bits};
}

Frame MeterSlave::readHolding(uint16_t first, uint16_t count) const {
    if (count < 1 || count > 125) {
        return exception(kIllegalValue);
    }
    if (first + count > kHoldingCount) {
        return exception(kIllegalAddress);
    }
    Frame out{static_cast<uint8_t>(2 * count)};
    for (int i = first; i < first + count; ++i) {
        putWord(out, i < kStoredHolding ? m_holding[i] : 0);
    }
    return out;
}

Frame MeterSlave::readInput(uint16_t first, uint16_t count) const {
    if (count < 1 || count > 125) {
        return exception(kIllegalValue);
    }
    Frame out{static_cast<uint8_t>(2 * count)};
    if (first == kModelRegister && count == 1) {
        putWord(out, kModelCode);
        return out;
    }
    if (first + count > kFloatRegisters) {
        return exception(kIllegalAddress);
    }
    for (int i = first; i < first + count; ++i) {
        uint32_t bits = 0;
        std::memcpy(&bits, &m_readings[i / 2], sizeof bits);
        // High word first, each word big-endian.
        putWord(out, static_cast<uint16_t>(i % 2 == 0 ? bits >> 16 : bits & 0xFFFF));
    }
    return out;
}

Frame MeterSlave::writeHolding(uint16_t first, std::span<const uint8_t> values) {
    const std::size_t count = values.size() / 2;
    if (first + count > kHoldingCount) {
        return exception(kIllegalAddress);
    }
    if (m_failWrites > 0) {
        --m_failWrites;
        return exception(kDeviceFailure);
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (first + i < kStoredHolding) {
            m_holding[first + i] = word(values, 2 * i);
        }
    }
    return {};
}

} // namespace metersim
