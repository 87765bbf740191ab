#pragma once

#include <QString>

#include <array>
#include <optional>

namespace common {

enum class TextForm { Fixed, General };

/// One of the sixteen readings a snapshot holds, in store order.
struct Reading {
    int slot;            ///< LiveVal slot and w_v column
    const char* key;     ///< short ASCII name for machine consumers
    const char* caption; ///< caption as the main window shows it
    TextForm form;
};

inline constexpr int kReadingCount = 16;

extern const std::array<Reading, kReadingCount> kReadingCatalogue;

/// Text of a reading in its form; empty when the value has no text (NaN, infinity).
std::optional<QString> readingText(float value, TextForm form);

} // namespace common
