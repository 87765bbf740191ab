#include "DelayPattern.h"

#include <charconv>

namespace metersim {
namespace {

constexpr std::size_t kMaxCycle = 64;

std::optional<int> number(std::string_view text, int maxMs) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || text.front() == '-' || error != std::errc() || stop != end ||
        value > maxMs) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<DelayPattern> DelayPattern::parse(std::string_view text, int maxMs) {
    DelayPattern pattern;
    if (const auto dash = text.find('-'); dash != std::string_view::npos && dash > 0) {
        const auto low = number(text.substr(0, dash), maxMs);
        const auto high = number(text.substr(dash + 1), maxMs);
        if (!low || !high || *low > *high) {
            return std::nullopt;
        }
        pattern.m_range.emplace(*low, *high);
        return pattern;
    }
    pattern.m_cycle.clear();
    while (true) {
        const auto comma = text.find(',');
        const auto value = number(text.substr(0, comma), maxMs);
        if (!value || pattern.m_cycle.size() == kMaxCycle) {
            return std::nullopt;
        }
        pattern.m_cycle.push_back(*value);
        if (comma == std::string_view::npos) {
            return pattern;
        }
        text.remove_prefix(comma + 1);
    }
}

int DelayPattern::next() {
    if (m_range) {
        return (*m_range)(m_engine);
    }
    const int delay = m_cycle[m_at];
    m_at = (m_at + 1) % m_cycle.size();
    return delay;
}

} // namespace metersim
