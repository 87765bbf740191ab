#include "trend/Ring.h"

#include <gtest/gtest.h>

namespace trend {
namespace {

TEST(Ring, StepsWrapAtBothEndsAndDistancesCountInWritingOrder) {
    static_assert(!isRecordNumber(0) && isRecordNumber(1) && isRecordNumber(kRingSize) &&
                  !isRecordNumber(kRingSize + 1) && !isRecordNumber(-1));

    EXPECT_EQ(ringSuccessor(0), 1);
    EXPECT_EQ(ringSuccessor(1), 2);
    EXPECT_EQ(ringSuccessor(kRingSize), 1);

    EXPECT_EQ(ringBack(1000, 60), 940);
    EXPECT_EQ(ringBack(60, 60), kRingSize);
    EXPECT_EQ(ringBack(1, 1), kRingSize);
    EXPECT_EQ(ringBack(50, 100), kRingSize - 50);
    EXPECT_EQ(ringBack(0, 60), kRingSize - 60);
    EXPECT_EQ(ringBack(7, kRingSize), 7);

    EXPECT_EQ(ringDistance(940, 1000), 60);
    EXPECT_EQ(ringDistance(kRingSize, 1), 1);
    EXPECT_EQ(ringDistance(65451, 50), 99);
    EXPECT_EQ(ringDistance(5, 5), 0);
    EXPECT_EQ(ringDistance(6, 5), kRingSize - 1);
    for (const std::int32_t r : {1, 2, 321, 32768, kRingSize - 1, kRingSize}) {
        for (const std::int32_t n : {0, 1, 60, 321, 32767, kRingSize - 1}) {
            EXPECT_EQ(ringDistance(ringBack(r, n), r), n) << r << " back " << n;
        }
    }

    // The record before a window: 0 when it starts at the first record.
    EXPECT_EQ(ringWindowBefore(321, 321), 0);
    EXPECT_EQ(ringWindowBefore(1000, 321), 679);
    EXPECT_EQ(ringWindowBefore(100, 321), kRingSize - 221);
}

} // namespace
} // namespace trend
