#pragma once

#include <cstdint>

/// The reading log's ring of record numbers 1..kRingSize, in the order they are written: after
/// the last number comes the first again.
namespace trend {

inline constexpr int kRingSize = 65500;

/// A number the ring can hold a snapshot under.
constexpr bool isRecordNumber(std::int64_t number) { return number >= 1 && number <= kRingSize; }

/// The record written after this one; after 0 (nothing written yet) comes the first.
constexpr std::int32_t ringSuccessor(std::int32_t record) {
    return record >= kRingSize ? 1 : record + 1;
}

/// The record n steps before this one, in ring order (0 counts as the last record).
constexpr std::int32_t ringBack(std::int32_t record, std::int32_t n) {
    const std::int64_t behind = (static_cast<std::int64_t>(record) - 1 - n) % kRingSize;
    return static_cast<std::int32_t>((behind + kRingSize) % kRingSize + 1);
}

/// Steps forward in ring order from one record to another, 0..kRingSize-1.
constexpr std::int32_t ringDistance(std::int32_t from, std::int32_t to) {
    const std::int64_t ahead = (static_cast<std::int64_t>(to) - from) % kRingSize;
    return static_cast<std::int32_t>((ahead + kRingSize) % kRingSize);
}

/// The number just before the first record of a window of `length` records ending at `end`: 0
/// when the window starts at the first record, the ring's tail when it reaches back past it.
constexpr std::int64_t ringWindowBefore(std::int64_t end, std::int64_t length) {
    return end >= length ? end - length : kRingSize - (length - end);
}

} // namespace trend
