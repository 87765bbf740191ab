#pragma once

// Modbus RTU framing as the meter speaks it, shared by the library and the meter simulator so the
// two frame alike.

#include <modbus/modbus.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace modbus485 {

// --- Function codes and addresses ---

// Short names for libmodbus's function codes, which the simulator answers by.
constexpr std::uint8_t kReadCoils = MODBUS_FC_READ_COILS;
constexpr std::uint8_t kReadHolding = MODBUS_FC_READ_HOLDING_REGISTERS;
constexpr std::uint8_t kReadInput = MODBUS_FC_READ_INPUT_REGISTERS;
constexpr std::uint8_t kWriteRegister = MODBUS_FC_WRITE_SINGLE_REGISTER;
constexpr std::uint8_t kWriteRegisters = MODBUS_FC_WRITE_MULTIPLE_REGISTERS;
constexpr std::uint8_t kExceptionBit = 0x80;
constexpr int kMinSlave = 1;
constexpr int kMaxSlave = 247;

/// A write's answer echoes its request; a read's gives a byte count and the data.
constexpr bool isWrite(int function) {
    return function == kWriteRegister || function == kWriteRegisters;
}

/// The functions the meter knows.
constexpr bool isSupported(int function) {
    return function == kReadCoils || function == kReadHolding || function == kReadInput ||
           isWrite(function);
}

// --- Frame lengths and answer shapes ---

// Address, function, four bytes of register and count or value, CRC.
constexpr std::size_t kRequestBytes = 8;
constexpr std::size_t kExceptionBytes = 5;
// Address, function and byte count before a read's data, the CRC after it.
constexpr std::size_t kReadFraming = 5;

/// Data bytes in the answer to a read of count coils or registers.
constexpr std::size_t dataBytes(std::uint8_t function, int count) {
    return static_cast<std::size_t>(function == kReadCoils ? (count + 7) / 8 : 2 * count);
}

/// Length of the answer frame starting at bytes[0]: 0 while too little is in, -1 if none starts
/// there.
constexpr int answerLength(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes[0] < kMinSlave || bytes[0] > kMaxSlave) {
        return -1;
    }
    if (bytes.size() < 2) {
        return 0;
    }
    const std::uint8_t function = bytes[1];
    if (!isSupported(function & ~kExceptionBit)) {
        return -1;
    }
    if ((function & kExceptionBit) != 0) {
        return static_cast<int>(kExceptionBytes);
    }
    if (isWrite(function)) {
        return static_cast<int>(kRequestBytes);
    }
    return bytes.size() < 3 ? 0 : static_cast<int>(kReadFraming) + bytes[2];
}

/// What tells one answer from another on the wire.
struct Shape {
    std::uint8_t slave = 0;
    std::uint8_t function = 0;
    // Byte count of a read, register and value of a write's echo, 0 for an exception.
    std::uint32_t key = 0;
    bool operator==(const Shape&) const = default;
};

/// The shape of a whole answer frame.
constexpr Shape shapeOf(std::span<const std::uint8_t> frame) {
    Shape s{frame[0], frame[1], 0};
    if ((s.function & kExceptionBit) != 0) {
        return s;
    }
    if (isWrite(s.function)) {
        s.key = (static_cast<std::uint32_t>(frame[2]) << 24) |
                (static_cast<std::uint32_t>(frame[3]) << 16) |
                (static_cast<std::uint32_t>(frame[4]) << 8) | frame[5];
    } else {
        s.key = frame[2];
    }
    return s;
}

/// The exception answer to a request whose answer has shape s.
constexpr Shape exceptionTo(const Shape& s) {
    return Shape{s.slave, static_cast<std::uint8_t>(s.function | kExceptionBit), 0};
}

// --- CRC ---

/// Polynomial 0xA001, initial 0xFFFF; the low byte goes first on the wire.
constexpr std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
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
constexpr bool crcHolds(std::span<const std::uint8_t> frame) {
    const std::size_t n = frame.size();
    return n >= 2 && crc16(frame.first(n - 2)) == (frame[n - 2] | (frame[n - 1] << 8));
}

// --- Requests ---

using RequestFrame = std::array<std::uint8_t, kRequestBytes>;

/// A request of function to slave with two 16-bit fields (first register, then count or value),
/// CRC included.
constexpr RequestFrame requestFrame(std::uint8_t slave, std::uint8_t function, int first,
                                    int second) {
    RequestFrame f = {slave,
                      function,
                      static_cast<std::uint8_t>(first >> 8),
                      static_cast<std::uint8_t>(first & 0xFF),
                      static_cast<std::uint8_t>(second >> 8),
                      static_cast<std::uint8_t>(second & 0xFF),
                      0,
                      0};
    const std::uint16_t crc = crc16(std::span<const std::uint8_t>(f).first(6));
    f[6] = static_cast<std::uint8_t>(crc & 0xFF);
    f[7] = static_cast<std::uint8_t>(crc >> 8);
    return f;
}

} // namespace modbus485
