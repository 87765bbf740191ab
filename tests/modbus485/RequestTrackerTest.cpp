// The request book of one port, driven by sequences of requests sent and bytes arriving at given
// times: no line, no simulator, no clock.

#include "RequestTracker.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

using namespace modbus485;

namespace {

// What the tracker is told a request's exchange takes on the line.
constexpr int kWire = 40;
constexpr int kDropAfterMs = kMaxLatenessMs + kWire + kSettleMarginMs;

const Clock::time_point kStart = Clock::time_point{} + std::chrono::hours(1);

Clock::time_point at(int ms) { return kStart + std::chrono::milliseconds(ms); }

Bytes withCrc(std::initializer_list<uint8_t> bytes) {
    Bytes f(bytes);
    const uint16_t crc = crc16(f);
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

/// A read's answer from slave with count data bytes, all fill.
Bytes readAnswer(uint8_t slave, uint8_t function, uint8_t count, uint8_t fill) {
    Bytes f = {slave, function, count};
    f.insert(f.end(), count, fill);
    const uint16_t crc = crc16(f);
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

// Answers that differ in shape only by what tells them apart on the wire.
const Bytes kHolding8 = readAnswer(1, kReadHolding, 16, 0x11);
const Bytes kHolding8Again = readAnswer(1, kReadHolding, 16, 0x22);
const Bytes kHolding8OtherSlave = readAnswer(2, kReadHolding, 16, 0x33);
const Bytes kInput16 = readAnswer(1, kReadInput, 32, 0x44);
const Bytes kCoil = readAnswer(1, kReadCoils, 1, 0x01);
const Bytes kEcho = withCrc({1, kWriteRegister, 0, 1, 0, 9});
const Bytes kOtherEcho = withCrc({1, kWriteRegister, 0, 1, 0, 8});
const Bytes kHoldingException = withCrc({1, kReadHolding | kExceptionBit, 2});
const Bytes kInputException = withCrc({1, kReadInput | kExceptionBit, 2});

Bytes garbled(Bytes f) {
    f[3] ^= 0x5A;
    return f;
}

enum class Kind {
    Open,  // the port opens
    Call,  // a call starts and sends its request, whose answer is bytes
    Aside, // a request the call does not wait for: a sync, or one of a call given up
    In,    // bytes arrive (none: the tracker only looks at the line)
    End,   // the call ends
};

struct Step {
    Kind kind;
    int atMs;
    Bytes bytes = {};
};

struct Outcome {
    std::optional<Bytes> handedOut; // by the last End
    int timeoutMs = 0;
    std::size_t unsettled = 0;
};

Outcome play(RequestTracker& t, const std::vector<Step>& steps) {
    Outcome o;
    for (const Step& s : steps) {
        switch (s.kind) {
        case Kind::Open:
            t.lineOpened(at(s.atMs));
            break;
        case Kind::Call:
            t.startCall();
            t.await(t.track(shapeOf(s.bytes), kWire, at(s.atMs)));
            break;
        case Kind::Aside:
            t.track(shapeOf(s.bytes), kWire, at(s.atMs));
            break;
        case Kind::In:
            t.take(s.bytes, at(s.atMs));
            break;
        case Kind::End:
            o.handedOut = t.finishCall();
            break;
        }
    }
    o.timeoutMs = t.timeoutMs();
    o.unsettled = t.unsettledCount();
    return o;
}

/// Calls answered promptly, the meter taking lateMs over each.
std::vector<Step> answeredCalls(int count, int startMs, int lateMs) {
    std::vector<Step> steps;
    for (int i = 0; i < count; ++i) {
        const int sent = startMs + i * 1000;
        steps.push_back({Kind::Call, sent, kEcho});
        steps.push_back({Kind::In, sent + kWire + lateMs, kEcho});
        steps.push_back({Kind::End, sent + kWire + lateMs});
    }
    return steps;
}

std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

/// The timeout a late answer asks for.
constexpr int grownTo(int lateMs) { return lateMs + lateMs / 4 + 20; }

struct Case {
    const char* name;
    std::vector<Step> steps;
    Outcome expected;
};

TEST(RequestTracker, HandsOutAnAnswerOnlyToItsOwnRequestAndLearnsHowLateTheMeterIs) {
    const std::vector<Case> cases = {
        {"prompt answer",
         {{Kind::Call, 0, kHolding8}, {Kind::In, 60, kHolding8}, {Kind::End, 60}},
         {kHolding8, kBaseTimeoutMs, 0}},
        {"answer in two pieces",
         {{Kind::Call, 0, kHolding8},
          {Kind::In, 50, Bytes(kHolding8.begin(), kHolding8.begin() + 5)},
          {Kind::In, 80, Bytes(kHolding8.begin() + 5, kHolding8.end())},
          {Kind::End, 80}},
         {kHolding8, kBaseTimeoutMs, 0}},
        {"a piece the line falls quiet after for the byte gap is noise",
         {{Kind::Call, 0, kHolding8},
          {Kind::In, 50, Bytes(kHolding8.begin(), kHolding8.begin() + 5)},
          {Kind::In, 50 + kByteGapMs},
          {Kind::In, 95, Bytes(kHolding8.begin() + 5, kHolding8.end())},
          {Kind::End, 100}},
         {std::nullopt, kBaseTimeoutMs, 1}},
        {"no answer",
         {{Kind::Call, 0, kHolding8}, {Kind::In, 240}, {Kind::End, 240}},
         {std::nullopt, kBaseTimeoutMs, 1}},
        {"exception answer settles the request but hands out nothing",
         {{Kind::Call, 0, kHolding8}, {Kind::In, 60, kHoldingException}, {Kind::End, 60}},
         {std::nullopt, kBaseTimeoutMs, 0}},
        {"exception to another function is no answer",
         {{Kind::Call, 0, kHolding8}, {Kind::In, 60, kInputException}, {Kind::End, 60}},
         {std::nullopt, kBaseTimeoutMs, 1}},
        {"answer of another shape is no answer",
         {{Kind::Call, 0, kHolding8},
          {Kind::In, 60, joined({kInput16, kHolding8OtherSlave, kCoil, kOtherEcho})},
          {Kind::End, 60}},
         {std::nullopt, kBaseTimeoutMs, 1}},
        {"another echo is no answer to a write",
         {{Kind::Call, 0, kEcho}, {Kind::In, 60, kOtherEcho}, {Kind::End, 60}},
         {std::nullopt, kBaseTimeoutMs, 1}},
        {"garbled answer is no answer",
         {{Kind::Call, 0, kHolding8}, {Kind::In, 60, garbled(kHolding8)}, {Kind::End, 60}},
         {std::nullopt, kBaseTimeoutMs, 1}},
        {"answer found behind noise and a garbled frame",
         {{Kind::Call, 0, kHolding8},
          {Kind::In, 60, joined({{0x00, 0xFF, 0x01, 0x42}, garbled(kInput16), kHolding8})},
          {Kind::End, 60}},
         {kHolding8, kBaseTimeoutMs, 0}},
        {"late answer of an earlier call settles it, not the call waiting",
         {{Kind::Aside, 0, kHolding8},
          {Kind::Call, 300, kInput16},
          {Kind::In, 500, kHolding8},
          {Kind::End, 500}},
         {std::nullopt, grownTo(500 - kWire), 1}},
        {"answer settles the oldest request of its shape and every one before it",
         {{Kind::Aside, 0, kInput16},
          {Kind::Aside, 10, kHolding8},
          {Kind::Aside, 20, kInput16},
          {Kind::Call, 30, kEcho},
          {Kind::In, 500, kHolding8},
          {Kind::End, 500}},
         {std::nullopt, grownTo(500 - 10 - kWire), 2}},
        {"a later answer of the same shape settles the next request",
         {{Kind::Aside, 0, kHolding8},
          {Kind::Call, 300, kHolding8Again},
          {Kind::In, 400, kHolding8},
          {Kind::In, 420, kHolding8Again},
          {Kind::End, 420}},
         {kHolding8Again, grownTo(400 - kWire), 0}},
        {"nothing is an answer to what was sent before the open",
         {{Kind::Open, 0}, {Kind::In, 30, kHolding8}},
         {std::nullopt, kBaseTimeoutMs, 1}},
        {"a less late answer leaves the grown timeout where it is",
         {{Kind::Aside, 0, kHolding8},
          {Kind::In, 400, kHolding8},
          {Kind::Aside, 500, kHolding8},
          {Kind::In, 700, kHolding8}},
         {std::nullopt, grownTo(400 - kWire), 0}},
        {"the timeout grows at most to its cap",
         {{Kind::Aside, 0, kInput16}, {Kind::In, 2100, kInput16}},
         {std::nullopt, kTimeoutCapMs, 0}},
        {"after twenty answered calls the timeout shrinks to what they needed",
         std::vector<Step>{{Kind::Aside, 0, kHolding8}, {Kind::In, 800, kHolding8}} +
             answeredCalls(kShrinkAfterCalls - 1, 1000, 150) + answeredCalls(1, 30000, 300),
         {kEcho, grownTo(300), 0}},
        {"nineteen answered calls leave the timeout where it is",
         std::vector<Step>{{Kind::Aside, 0, kHolding8}, {Kind::In, 800, kHolding8}} +
             answeredCalls(kShrinkAfterCalls - 1, 1000, 150),
         {kEcho, grownTo(800 - kWire), 0}},
        {"a failed call starts the run of answered calls again",
         std::vector<Step>{{Kind::Aside, 0, kHolding8}, {Kind::In, 800, kHolding8}} +
             answeredCalls(10, 1000, 0) +
             std::vector<Step>{{Kind::Call, 12000, kCoil}, {Kind::End, 12300}} +
             answeredCalls(kShrinkAfterCalls - 1, 13000, 0),
         {kEcho, grownTo(800 - kWire), 0}},
        {"the timeout never shrinks below its base",
         std::vector<Step>{{Kind::Aside, 0, kHolding8}, {Kind::In, 800, kHolding8}} +
             answeredCalls(kShrinkAfterCalls, 1000, 0),
         {kEcho, kBaseTimeoutMs, 0}},
        {"an open learns the timeout afresh and keeps what is unanswered",
         {{Kind::Aside, 0, kHolding8},
          {Kind::Aside, 10, kInput16},
          {Kind::In, 800, kHolding8},
          {Kind::Open, 900}},
         {std::nullopt, kBaseTimeoutMs, 1}},
        {"a request stays until the meter could no longer answer it",
         {{Kind::Aside, 0, kHolding8}, {Kind::In, kDropAfterMs}},
         {std::nullopt, kBaseTimeoutMs, 1}},
        {"then it is dropped, each request at its own limit",
         {{Kind::Aside, 0, kHolding8}, {Kind::Aside, 5, kInput16}, {Kind::In, kDropAfterMs + 1}},
         {std::nullopt, kBaseTimeoutMs, 1}},
        {"so both are gone once the later one's limit has passed",
         {{Kind::Aside, 0, kHolding8}, {Kind::Aside, 5, kInput16}, {Kind::In, kDropAfterMs + 6}},
         {std::nullopt, kBaseTimeoutMs, 0}},
        {"bytes on the line put the dropping off",
         {{Kind::Aside, 0, kHolding8}, {Kind::In, 1000, {0xFF}}, {Kind::In, 1000 + kDropAfterMs}},
         {std::nullopt, kBaseTimeoutMs, 1}},
        {"a dropped request's answer is no answer any more",
         {{Kind::Aside, 0, kHolding8},
          {Kind::In, kDropAfterMs + 1},
          {Kind::Call, kDropAfterMs + 10, kInput16},
          {Kind::In, kDropAfterMs + 20, kHolding8},
          {Kind::End, kDropAfterMs + 20}},
         {std::nullopt, kBaseTimeoutMs, 1}},
    };
    for (const Case& c : cases) {
        RequestTracker t;
        const Outcome o = play(t, c.steps);
        EXPECT_EQ(o.handedOut, c.expected.handedOut) << c.name;
        EXPECT_EQ(o.timeoutMs, c.expected.timeoutMs) << c.name;
        EXPECT_EQ(o.unsettled, c.expected.unsettled) << c.name;
    }
}

TEST(RequestTracker, LetsARequestOutUnlessTheMeterIsSeenWorkingThroughOlderOnes) {
    const struct {
        const char* name;
        std::vector<Step> steps;
        int askAtMs;
        bool mayAsk;
    } cases[] = {
        {"nothing unsettled", {}, 0, true},
        {"right after an open", {{Kind::Open, 0}}, 0, true},
        {"nothing answered since the newest went out",
         {{Kind::Aside, 0, kHolding8}, {Kind::In, 50, kHolding8}, {Kind::Aside, 100, kInput16}},
         200,
         true},
        {"an older request answered after the newest went out",
         {{Kind::Aside, 0, kHolding8}, {Kind::Aside, 100, kInput16}, {Kind::In, 200, kHolding8}},
         200,
         false},
        {"still within the newest one's answer limit",
         {{Kind::Aside, 0, kHolding8}, {Kind::Aside, 100, kInput16}, {Kind::In, 200, kHolding8}},
         200 + kDropAfterMs,
         false},
        {"past the newest one's answer limit",
         {{Kind::Aside, 0, kHolding8}, {Kind::Aside, 100, kInput16}, {Kind::In, 200, kHolding8}},
         200 + kDropAfterMs + 1,
         true},
    };
    for (const auto& c : cases) {
        RequestTracker t;
        play(t, c.steps);
        EXPECT_EQ(t.mayAsk(at(c.askAtMs)), c.mayAsk) << c.name;
    }
}

TEST(RequestTracker, ChoosesTheShortestSyncThatSettlesEverythingThatCouldAnswerInstead) {
    std::vector<Step> everySyncAfterTheRequest = {{Kind::Aside, 0, kHolding8}};
    for (const Sync s : kSyncs) {
        everySyncAfterTheRequest.push_back(
            {Kind::Aside, 1, readAnswer(1, s.function, static_cast<uint8_t>(2 * s.count), 0)});
    }
    std::vector<Step> twoSyncsBeforeTheRequest = {
        {Kind::Aside, 0, readAnswer(1, kReadHolding, 4, 0)},
        {Kind::Aside, 0, readAnswer(1, kReadInput, 4, 0)},
        {Kind::Aside, 0, kHolding8}};
    for (std::size_t i = 2; i < kSyncs.size(); ++i) {
        twoSyncsBeforeTheRequest.push_back(
            {Kind::Aside, 1,
             readAnswer(1, kSyncs[i].function, static_cast<uint8_t>(2 * kSyncs[i].count), 0)});
    }
    const struct {
        const char* name;
        std::vector<Step> steps;
        Bytes answer;
        std::optional<Sync> sync;
        bool conflicts;
    } cases[] = {
        {"nothing unsettled", {}, kHolding8, Sync{kReadHolding, 2}, false},
        {"only another shape unsettled",
         {{Kind::Aside, 0, kInput16}},
         kHolding8,
         Sync{kReadHolding, 2},
         false},
        {"after an open", {{Kind::Open, 0}}, kHolding8, Sync{kReadHolding, 2}, true},
        {"a request of the same shape unsettled",
         {{Kind::Aside, 0, kHolding8}},
         kHolding8,
         Sync{kReadHolding, 2},
         true},
        {"the shortest sync unsettled too",
         {{Kind::Aside, 0, kHolding8}, {Kind::Aside, 1, readAnswer(1, kReadHolding, 4, 0)}},
         kHolding8,
         Sync{kReadInput, 2},
         true},
        {"another slave's syncs do not count",
         {{Kind::Aside, 0, kHolding8}, {Kind::Aside, 1, readAnswer(2, kReadHolding, 4, 0)}},
         kHolding8,
         Sync{kReadHolding, 2},
         true},
        {"every sync unsettled, all sent after the request", everySyncAfterTheRequest, kHolding8,
         Sync{kReadHolding, 2}, true},
        {"every sync unsettled, two of them sent before the request", twoSyncsBeforeTheRequest,
         kHolding8, Sync{kReadHolding, 3}, true},
    };
    for (const auto& c : cases) {
        RequestTracker t;
        play(t, c.steps);
        EXPECT_EQ(t.conflicts(shapeOf(c.answer)), c.conflicts) << c.name;
        EXPECT_EQ(t.syncFor(shapeOf(c.answer)), c.sync) << c.name;
    }
    // Every sync a different shape from every read and write of the calls.
    for (const Sync s : kSyncs) {
        const Shape shape = syncShape(1, s);
        for (const Bytes& call : {kHolding8, kInput16, kCoil, kEcho}) {
            EXPECT_NE(shape, shapeOf(call));
        }
    }
}

TEST(RequestTracker, LooksAtTheLineWithinTheByteGapWhileAFrameIsHalfIn) {
    RequestTracker t;
    EXPECT_EQ(t.nextLook(at(0), at(500)), at(500));
    t.take(Bytes(kHolding8.begin(), kHolding8.begin() + 4), at(10));
    EXPECT_EQ(t.nextLook(at(10), at(500)), at(10 + kByteGapMs));
    EXPECT_EQ(t.nextLook(at(10), at(20)), at(20));
}

} // namespace
