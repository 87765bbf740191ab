#pragma once

// The line a port talks over, whatever carries it.

#include <chrono>
#include <cstdint>
#include <optional>
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

    /// The connection that carried the last frame written went away: no answer can come on it.
    virtual bool lost() const { return false; }
    /// The line itself matches each answer to its request (a transaction identifier).
    virtual bool answersMatched() const { return false; }
    /// Bytes take time at the line's speed; a network has none worth counting.
    virtual bool takesWireTime() const { return true; }
    /// How late, in ms, an answer came that the line dropped as another request's; once each.
    virtual std::optional<int> takeDroppedLateness() { return std::nullopt; }
};

} // namespace modbus485
