#include "LogFollower.h"
#include "Payloads.h"

#include "common/ReadingCatalogue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>

namespace {

// Every moment in these tests is read in one fixed zone, eight hours east of UTC; the tool's
// processes inherit it.
[[maybe_unused]] const bool kFixedZone = [] {
    qputenv("TZ", "CST-8");
    tzset();
    return true;
}();

TEST(SnapshotPayload, NumbersAreTheShortestTextThatReadsBackAsTheSameFloat) {
    const struct {
        float value;
        const char* text;
    } cases[] = {
        {385.2877F, "385.2877"},   {0.1F, "0.1"},
        {50.0F, "50"},             {-0.0F, "-0"},
        {1e-5F, "1e-05"},          {16777216.0F, "16777216"},
        {3.4028235e38F, "3.4028235e+38"},
        {std::numeric_limits<float>::denorm_min(), "1e-45"},
        {std::numeric_limits<float>::quiet_NaN(), "null"},
        {std::numeric_limits<float>::infinity(), "null"},
        {-std::numeric_limits<float>::infinity(), "null"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(publish::jsonNumber(c.value), QByteArray(c.text)) << c.text;
    }
}

TEST(SnapshotPayload, TheTimeIsTheSnapshotsOwnWallClockWithTheOffsetOfThatMoment) {
    // 2026-12-08 is day 46364; noon is half a day.
    EXPECT_EQ(publish::localMomentText(46364, 0.5), QStringLiteral("2026-12-08T12:00:00+08:00"));
    EXPECT_EQ(publish::localMomentText(46364, 0), QStringLiteral("2026-12-08T00:00:00+08:00"));
    EXPECT_EQ(publish::localMomentText(std::numeric_limits<double>::quiet_NaN(), 0), QString());
    EXPECT_EQ(publish::localMomentText(1e12, 0), QString());

    publish::SnapshotRow row;
    row.record = 7;
    row.date = 46364;
    row.time = 0.5;
    row.values[0] = 385.2877F;
    row.values[15] = std::numeric_limits<float>::quiet_NaN();
    const QByteArray payload = publish::snapshotPayload(row);
    EXPECT_TRUE(payload.startsWith(
        R"({"record": 7, "time": "2026-12-08T12:00:00+08:00", "Uab": 385.2877, "Ubc": 0, )"));
    EXPECT_TRUE(payload.endsWith(R"("EP": 0, "C1": null})"));

    row.date = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(publish::snapshotPayload(row).startsWith(R"({"record": 7, "time": null, )"));
}

TEST(SnapshotPayload, DiscoveryNamesHoldOnlyWhatTheConventionAllowsAndTextsAreEscaped) {
    const publish::Topics topics(QStringLiteral("plant/vx310"), QStringLiteral("Hall 3 \"east\""));
    EXPECT_EQ(topics.snapshot, QStringLiteral("plant/vx310/Hall 3 \"east\"/snapshot"));
    EXPECT_EQ(topics.discovery(common::kReadingCatalogue[9]),
              QStringLiteral("homeassistant/sensor/Hall_3__east__P/config"));
    const QByteArray config = publish::discoveryPayload(topics, common::kReadingCatalogue[9]);
    EXPECT_TRUE(config.contains(R"("state_topic": "plant/vx310/Hall 3 \"east\"/snapshot")"))
        << config.toStdString();
    EXPECT_TRUE(config.contains(R"("value_template": "{{ value_json.P }}")"));
    EXPECT_EQ(publish::jsonString(QStringLiteral("a\\b\n\x01")), QByteArray(R"("a\\b\n\u0001")"));
}

TEST(RingPosition, LostSnapshotsAreThoseOfTheLapBetweenThePositionAndTheNewOldest) {
    // Acknowledged 65450; the ring went round and now starts at 51: 65451..65500 and 1..50.
    EXPECT_EQ(publish::lappedCount(65450, 51), 100);
    // Exactly one lap: the whole lap is still in the ring.
    EXPECT_EQ(publish::lappedCount(20, 21), 0);
    EXPECT_EQ(publish::lappedCount(65500, 3), 2);
}

} // namespace
