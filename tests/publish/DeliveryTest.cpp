#include "Delivery.h"

#include "trend/Ring.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using publish::Delivery;
using publish::SnapshotRow;

namespace {

/// Records first, first + 1, ... around the ring, one second apart.
std::vector<SnapshotRow> rows(std::int32_t first, int count) {
    std::vector<SnapshotRow> taken;
    for (int k = 0; k < count; ++k) {
        SnapshotRow row;
        row.record = first;
        row.date = 46364;
        row.time = k / 86400.0;
        taken.push_back(row);
        first = trend::ringSuccessor(first);
    }
    return taken;
}

/// Publishes what waits, up to the window, as message ids firstMid, firstMid + 1, ...
int publishAll(Delivery& delivery, int firstMid = 1) {
    int mid = firstMid;
    for (; delivery.next() && !delivery.windowFull(); ++mid) {
        delivery.published(mid);
    }
    return mid - firstMid;
}

/// The record of a position, 0 for none.
std::int32_t recordOf(const std::optional<publish::RingPosition>& position) {
    return position ? position->record : 0;
}

TEST(Delivery, ARecordCountsOnceItAndEveryOneSentBeforeItAreAcknowledged) {
    const struct {
        const char* what;
        std::int32_t first;
        std::vector<int> acks;
        std::vector<std::int32_t> acknowledged;
    } cases[] = {
        {"in order", 10, {1, 2, 3}, {10, 11, 12}},
        {"out of order", 10, {3, 1, 2, 5, 4}, {0, 10, 12, 12, 14}},
        {"a message that is not a snapshot", 10, {99, 1, 99}, {0, 10, 10}},
        {"across the end of the ring", 65499, {2, 3, 1, 4}, {0, 0, 1, 2}},
    };
    for (const auto& c : cases) {
        Delivery delivery;
        delivery.take(rows(c.first, 5));
        EXPECT_EQ(publishAll(delivery), 5) << c.what;
        for (std::size_t k = 0; k < c.acks.size(); ++k) {
            delivery.acknowledge(c.acks[k]);
            EXPECT_EQ(recordOf(delivery.acknowledged()), c.acknowledged[k]) << c.what << " " << k;
        }
    }
}

TEST(Delivery, ALostConnectionSendsAgainWhatFollowsTheAcknowledgedPosition) {
    Delivery delivery;
    delivery.take(rows(10, 8));
    for (int mid = 1; mid <= 5; ++mid) {
        delivery.published(mid);
    }
    delivery.acknowledge(1);
    delivery.acknowledge(2);
    delivery.acknowledge(4);
    EXPECT_EQ(recordOf(delivery.read()), 17);

    delivery.rewind();
    EXPECT_EQ(recordOf(delivery.read()), 11);
    EXPECT_TRUE(delivery.empty());
    EXPECT_EQ(delivery.next(), nullptr);
    // The next client numbers its messages from 1 again.
    delivery.take(rows(12, 3));
    EXPECT_EQ(publishAll(delivery), 3);
    delivery.acknowledge(1);
    EXPECT_EQ(recordOf(delivery.acknowledged()), 12);
    delivery.acknowledge(2);
    EXPECT_EQ(recordOf(delivery.acknowledged()), 13);
}

TEST(Delivery, ALappedReadPositionGoesOnFromTheOldestWhileWhatWasSentStillCounts) {
    Delivery delivery(publish::positionOf(rows(65450, 1).front()));
    EXPECT_EQ(recordOf(delivery.read()), 65450);
    delivery.take(rows(65451, 3));
    publishAll(delivery);
    // The ring went round past 65453 meanwhile and now starts at 51.
    delivery.takeFromOldest(rows(51, 2));
    EXPECT_EQ(recordOf(delivery.read()), 52);
    ASSERT_NE(delivery.next(), nullptr);
    EXPECT_EQ(delivery.next()->record, 51);
    publishAll(delivery, 4);
    for (const int mid : {2, 3, 1, 5}) {
        delivery.acknowledge(mid);
    }
    EXPECT_EQ(recordOf(delivery.acknowledged()), 65453);
    delivery.acknowledge(4);
    EXPECT_EQ(recordOf(delivery.acknowledged()), 52);

    // A ring that holds nothing now: the next read starts at its oldest.
    delivery.takeFromOldest({});
    EXPECT_EQ(delivery.read(), std::nullopt);
    EXPECT_EQ(delivery.next(), nullptr);
}

TEST(Delivery, AtMostTheWindowIsInFlightAndCaughtUpMeansTakenUpToTheNewest) {
    Delivery delivery;
    delivery.take(rows(65480, Delivery::kMaxInFlight + 3));
    EXPECT_EQ(publishAll(delivery), Delivery::kMaxInFlight);
    EXPECT_TRUE(delivery.windowFull());
    delivery.acknowledge(2);
    EXPECT_TRUE(delivery.windowFull());
    delivery.acknowledge(1);
    EXPECT_EQ(publishAll(delivery, 100), 2);

    const struct {
        std::optional<std::int32_t> read;
        std::optional<std::int32_t> newest;
        bool caughtUp;
    } cases[] = {
        {std::nullopt, std::nullopt, false},
        {std::nullopt, 0, true},
        {std::nullopt, 5, false},
        {5, std::nullopt, false},
        {5, 5, true},
        {5, 6, false},
        {65500, 1, false},
        {65500, 65500, true},
    };
    for (const auto& c : cases) {
        Delivery taken;
        if (c.read) {
            taken.take(rows(*c.read, 1));
        }
        EXPECT_EQ(taken.caughtUp(c.newest), c.caughtUp)
            << recordOf(taken.read()) << " " << c.newest.value_or(-1);
    }
}

} // namespace
