#pragma once

// The line a port talks over, whatever carries it.

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

namespace modbus485 {

/// How the port was asked to be opened; a line that has no speed or parity ignores them.
struct LineSettings {
    int baud = 9600;
    char parity = 'N';
};

/// One port's line: opened, written a frame at a time, read as bytes come.
class Transport {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Transport() = default;

    /// Opens the line for this process alone; false when it cannot be had.
    virtual bool open(const LineSettings& settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    /// Writes the whole frame unless deadline passes first.
    virtual bool write(std::span<const std::uint8_t> frame, TimePoint deadline) = 0;
    /// Waits until something comes or until passes, then appends all the line holds to into.
    virtual void readUntil(TimePoint until, std::vector<std::uint8_t>& into) = 0;
};

} // namespace modbus485
