#pragma once

// Modbus RTU's CRC-16, shared by the library and the meter simulator so the two frame alike.

#include <cstdint>
#include <span>

namespace modbus485 {

/// Polynomial 0xA001, initial 0xFFFF; the low byte goes first on the wire.
inline std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) {
            crc = (crc & 1) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                                 : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

} // namespace modbus485
