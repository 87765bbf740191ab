#include "common/BoundedArray.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using Store = common::BoundedArray<float, 0, 300>;
using Offset = common::BoundedArray<std::int32_t, 1, 3>;

TEST(BoundedArray, StartsAtZeroInEveryCell) {
    const Store store;
    EXPECT_EQ(store.get(0), 0.0F);
    EXPECT_EQ(store.get(300), 0.0F);
    EXPECT_EQ(Store::kSize, 301U);
}

TEST(BoundedArray, ReadsBackWhatWasWrittenWithinItsBounds) {
    Offset cells;
    EXPECT_TRUE(cells.set(1, 10));
    EXPECT_TRUE(cells.set(3, 30));
    EXPECT_EQ(cells.get(1), 10);
    EXPECT_EQ(cells.get(2), 0);
    EXPECT_EQ(cells.get(3), 30);
}

TEST(BoundedArray, FailsOutOfRangeReadsWithoutAValue) {
    Offset cells;
    cells.fill(7);
    for (long long index : {0LL, 4LL, -1LL, 1LL << 40, -(1LL << 40)}) {
        EXPECT_EQ(cells.get(index), std::nullopt) << index;
        EXPECT_EQ(cells.value(index, -5), -5) << index;
    }
    EXPECT_EQ(cells.value(2, -5), 7);
}

TEST(BoundedArray, LeavesEveryCellUnchangedOnAnOutOfRangeWrite) {
    Offset cells;
    cells.fill(7);
    EXPECT_FALSE(cells.set(0, 99));
    EXPECT_FALSE(cells.set(4, 99));
    EXPECT_FALSE(cells.set(-(1LL << 40), 99));
    for (int index = 1; index <= 3; ++index) {
        EXPECT_EQ(cells.get(index), 7) << index;
    }
}

TEST(BoundedArray, GivesASpanOnlyWhenItStaysInside) {
    Store store;
    float* first = store.span(0, 8);
    ASSERT_NE(first, nullptr);
    first[7] = 1.5F;
    EXPECT_EQ(store.get(7), 1.5F);

    float* tail = store.span(293, 8);
    ASSERT_NE(tail, nullptr);
    tail[7] = 2.5F;
    EXPECT_EQ(store.get(300), 2.5F);

    EXPECT_EQ(store.span(294, 8), nullptr);
    EXPECT_EQ(store.span(-1, 8), nullptr);
    EXPECT_EQ(store.span(0, 0), nullptr);
    EXPECT_EQ(store.span(0, -3), nullptr);
    EXPECT_EQ(store.span(301, 1), nullptr);
    EXPECT_NE(store.span(300, 1), nullptr);
}

} // namespace
