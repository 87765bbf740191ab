#pragma once

#include <QPoint>
#include <QRect>

#include <cmath>

namespace common {

/// Window geometry is designed in twips; the screen shows 15 twips per logical pixel.
inline constexpr double kTwipsPerPixel = 15.0;

inline int px(double twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }

inline QRect twipsRect(double left, double top, double width, double height) {
    return {px(left), px(top), px(width), px(height)};
}

} // namespace common
