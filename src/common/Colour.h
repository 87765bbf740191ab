#pragma once

#include <cstdint>

namespace common {

/// An opaque colour as 0xFFRRGGBB, the layout the window toolkit takes directly.
using Rgb = std::uint32_t;

constexpr Rgb rgb(int red, int green, int blue) {
    return 0xFF000000U | (static_cast<Rgb>(red & 0xFF) << 16) |
           (static_cast<Rgb>(green & 0xFF) << 8) | static_cast<Rgb>(blue & 0xFF);
}

} // namespace common
