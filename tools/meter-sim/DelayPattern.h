#pragma once

// How late the simulator answers: a fixed delay, a cycle of delays or a random one in a range.

#include <cstddef>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

namespace metersim {

class DelayPattern {
  public:
    DelayPattern() = default;

    /// "MS", "MS,MS,..." (taken in turn, one per answer) or "LO-HI" (uniformly at random), each
    /// from 0 to maxMs; nothing for any other text.
    static std::optional<DelayPattern> parse(std::string_view text, int maxMs);

    /// The delay of the next answer, in milliseconds.
    int next();

  private:
    std::vector<int> m_cycle{0};
    std::size_t m_at = 0;
    // Set for a range, which then stands in for the cycle.
    std::optional<std::uniform_int_distribution<int>> m_range;
    std::mt19937 m_engine{std::random_device{}()};
};

} // namespace metersim
