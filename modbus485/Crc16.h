#pragma once

// Modbus RTU's CRC-16, shared by the library and the meter simulator so the two frame alike.

#include <cstddef>
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

/// Whether a whole frame ends in the CRC of what comes before it.
inline bool crcHolds(std::span<const std::uint8_t> frame) {
    const std::size_t n = frame.size();
    return n >= 2 && crc16(frame.first(n - 2)) == (frame[n - 2] | (frame[n - 1] << 8));
}

} // namespace modbus485
