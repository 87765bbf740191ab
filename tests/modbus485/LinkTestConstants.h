#pragma once

// What the meter link's tests share: where they talk to the simulator, the open settings they
// use, and the sentinels that show a destination a failed read must leave untouched.

#include <cstdint>

namespace vx310test {

constexpr int32_t kPort = 1;
constexpr int32_t kMeter = 1;
constexpr int32_t kBaud9600 = 1;
constexpr int32_t kParityNone = 0;
constexpr float kFloatSentinel = -12345.0f;
constexpr int32_t kIntSentinel = -777;

} // namespace vx310test
