#pragma once

// Which request an answer on the line belongs to, and when the next may go out: the bookkeeping of
// one port, with the time always passed in and no I/O of its own.

#include "Frame.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace modbus485 {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr int kBaseTimeoutMs = 200;
constexpr int kTimeoutCapMs = 1500;
// The longest a meter takes over one answer once it has taken the request.
constexpr int kMaxLatenessMs = 3000;
constexpr int kSettleMarginMs = 100;
// A partial frame whose next byte is this late is noise.
constexpr int kByteGapMs = 40;
constexpr int kShrinkAfterCalls = 20;

/// A read from register 1 of a length no call of the library uses.
struct Sync {
    std::uint8_t function;
    std::uint8_t count;
    bool operator==(const Sync&) const = default;
};

// Shortest first.
constexpr std::array<Sync, 22> kSyncs = {
    {{kReadHolding, 2}, {kReadInput, 2},    {kReadHolding, 3}, {kReadInput, 3},
     {kReadHolding, 4}, {kReadInput, 4},    {kReadHolding, 5}, {kReadInput, 5},
     {kReadHolding, 6}, {kReadInput, 6},    {kReadHolding, 7}, {kReadInput, 7},
     {kReadInput, 8},   {kReadHolding, 9},  {kReadInput, 9},   {kReadHolding, 10},
     {kReadInput, 10},  {kReadHolding, 11}, {kReadInput, 11},  {kReadHolding, 12},
     {kReadInput, 12},  {kReadHolding, 13}}};

/// The shape of sync's answer from slave.
constexpr Shape syncShape(std::uint8_t slave, Sync sync) {
    return Shape{slave, sync.function, static_cast<std::uint32_t>(2 * sync.count)};
}

int msBetween(Clock::time_point from, Clock::time_point to);

/// The requests of one port whose answer has not come, what the line brought in, and the response
/// timeout learned from how late the meter answers.
class RequestTracker {
  public:
    /// Takes in bytes that arrived by now, settles the requests their answers belong to and drops
    /// those the meter can no longer answer.
    void take(std::span<const std::uint8_t> bytes, Clock::time_point now);

    /// When to look at the line again: at deadline, or sooner while a frame is half in.
    Clock::time_point nextLook(Clock::time_point now, Clock::time_point deadline) const;

    /// Whether a request may go out now.
    bool mayAsk(Clock::time_point now) const;

    /// Whether an unsettled request could answer in place of one of answer's shape.
    bool conflicts(const Shape& answer) const;

    /// The sync to send before a request of answer's shape, if one can help.
    std::optional<Sync> syncFor(const Shape& answer) const;

    /// Keeps a request sent at sent, whose exchange takes wireMs on the line; its id.
    std::uint64_t track(const Shape& answer, int wireMs, Clock::time_point sent);

    /// Starts a call: nothing awaited, no answer.
    void startCall();
    /// The call now waits for the answer of request id.
    void await(std::uint64_t id) { m_waitingFor = id; }
    bool awaiting() const { return m_waitingFor != 0; }
    bool answered() const { return m_answer.has_value(); }
    /// Ends the call: its answer frame, or nothing on no answer or an exception answer.
    std::optional<Bytes> finishCall();

    /// The line was closed: a half-received frame goes with it.
    void lineClosed() { m_received.clear(); }
    /// The line was opened at now: the timeout is learned afresh, and another master may have left
    /// answers on their way.
    void lineOpened(Clock::time_point now);

    /// On a line that matches answers itself, nothing unsettled can stand in for a later answer.
    void forgetUnsettled() { m_unsettled.clear(); }
    /// An answer that came latenessMs late and was dropped by the line still teaches the timeout.
    void lateAnswerDropped(int latenessMs) { raiseTimeout(latenessMs); }

    int timeoutMs() const { return m_timeoutMs; }
    std::size_t unsettledCount() const { return m_unsettled.size(); }

  private:
    struct Request {
        std::uint64_t id = 0;
        Shape answer;
        Clock::time_point sent;
        int wireMs = 0;
        // Stands for whatever was sent on the line before the port was opened.
        bool unknownPast = false;
    };

    static bool answers(const Request& r, const Shape& s);
    static int answerLimitMs(const Request& r);
    void settle(std::span<const std::uint8_t> frame, Clock::time_point now);
    void learn(const Request& r, Clock::time_point now);
    void raiseTimeout(int latenessMs);
    void dropUnanswerable(Clock::time_point now);

    std::deque<Request> m_unsettled;
    Bytes m_received;
    Clock::time_point m_lastByte{};
    // When an answer last settled a request: the meter is working through what it was sent.
    Clock::time_point m_lastSettled{};
    std::uint64_t m_nextId = 1;
    // The request of the call in progress and its answer once in.
    std::uint64_t m_waitingFor = 0;
    std::optional<Bytes> m_answer;
    int m_timeoutMs = kBaseTimeoutMs;
    int m_answeredRun = 0;
    int m_runLatenessMs = 0;
};

} // namespace modbus485
