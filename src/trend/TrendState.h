#pragma once

#include "common/BoundedArray.h"
#include "trend/Ring.h"

#include <array>
#include <cstdint>
#include <optional>

namespace trend {

inline constexpr int kLiveWindowLength = 241;
inline constexpr int kHistoryWindowLength = 321;
inline constexpr int kTrendChannels = 25;
inline constexpr int kDrawnChannels = 11;
inline constexpr std::int16_t kFullScaleAtLoad = 6000;

/// A window of up to 321 snapshots held for the chart; index 0 is never filled by a loader.
struct TrendBuffer {
    using Points = common::BoundedArray<double, 0, 322>;
    using Values = common::BoundedArray<float, 0, 322>;

    Points trendDate;
    Points trendTime;
    std::array<Values, kTrendChannels> trendValue;
    common::BoundedArray<std::int16_t, 0, 322> gapMark;

    /// Element (channel, point) of trendValue; empty when either index is out of range.
    [[nodiscard]] std::optional<float> value(int channel, int point) const {
        if (channel < 0 || channel >= kTrendChannels) {
            return std::nullopt;
        }
        return trendValue[static_cast<std::size_t>(channel)].get(point);
    }
    bool setValue(int channel, int point, float v) {
        if (channel < 0 || channel >= kTrendChannels) {
            return false;
        }
        return trendValue[static_cast<std::size_t>(channel)].set(point, v);
    }

    /// Dates, times and channels 0 to 8 of points 0 to 321 back to 0; channels 9 and 10 and
    /// point 322 keep their values.
    void clearTrendBuffer() {
        constexpr int kClearedChannels = 9;
        for (int i = 0; i <= 321; ++i) {
            trendDate.set(i, 0.0);
            trendTime.set(i, 0.0);
            for (int c = 0; c < kClearedChannels; ++c) {
                setValue(c, i, 0.0F);
            }
        }
    }
};

/// Which part of the buffer the chart shows and which window of the ring the buffer holds.
struct TrendView {
    std::int16_t zoomLevel = 1;
    float pointSpacing = 0;
    std::int16_t viewStart = 0;
    std::int16_t viewEnd = 0;
    std::int32_t windowEnd = 0;
    std::int32_t windowBefore = 0;
    std::int32_t windowLength = 0;
    std::int32_t newestRecord = 0;
    /// The ring has been written all round: the record after newestRecord holds the oldest
    /// snapshot, and the history reaches back to it.
    bool ringWrapped = false;
    std::int16_t scrollSteps = 0;
    bool atOldest = false;
    bool rulerOn = false;
    /// Twips per unit of the value axis in the last drawing; kept when the full scale is 0.
    float yScale = 0;

    bool operator==(const TrendView&) const = default;
};

} // namespace trend
