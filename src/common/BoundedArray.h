#pragma once

#include <array>
#include <cstddef>
#include <optional>

namespace common {

/// A fixed array indexed Lo..Hi whose out-of-range reads and writes fail instead of touching
/// memory: the caller skips the step, which keeps what it would have written unchanged.
template <typename T, int Lo, int Hi> class BoundedArray {
    static_assert(Hi >= Lo);

  public:
    static constexpr int kLower = Lo;
    static constexpr int kUpper = Hi;
    static constexpr std::size_t kSize = static_cast<std::size_t>(Hi - Lo) + 1U;

    [[nodiscard]] static constexpr bool contains(long long index) {
        return index >= Lo && index <= Hi;
    }

    [[nodiscard]] std::optional<T> get(long long index) const {
        if (!contains(index)) {
            return std::nullopt;
        }
        return m_items[static_cast<std::size_t>(index - Lo)];
    }

    /// Value at index, or the fallback when out of range.
    [[nodiscard]] T value(long long index, T fallback = T{}) const {
        return get(index).value_or(fallback);
    }

    bool set(long long index, T item) {
        if (!contains(index)) {
            return false;
        }
        m_items[static_cast<std::size_t>(index - Lo)] = item;
        return true;
    }

    /// Start of count consecutive elements from index, or nullptr when they leave the bounds.
    [[nodiscard]] T* span(long long index, long long count) {
        if (count < 1 || !contains(index) || !contains(index + count - 1)) {
            return nullptr;
        }
        return &m_items[static_cast<std::size_t>(index - Lo)];
    }

    void fill(T item) { m_items.fill(item); }

  private:
    std::array<T, kSize> m_items{};
};

} // namespace common
