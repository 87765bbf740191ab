#include "RequestTracker.h"

#include <algorithm>

namespace modbus485 {

int msBetween(Clock::time_point from, Clock::time_point to) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count());
}

// --- Answers coming in ---

void RequestTracker::take(std::span<const std::uint8_t> bytes, Clock::time_point now) {
    if (!bytes.empty()) {
        m_received.insert(m_received.end(), bytes.begin(), bytes.end());
        m_lastByte = now;
    }
    Bytes& b = m_received;
    std::size_t at = 0;
    while (at < b.size()) {
        const std::span<const std::uint8_t> rest(b.data() + at, b.size() - at);
        const int length = answerLength(rest);
        if (length < 0) {
            ++at;
            continue;
        }
        const auto size = static_cast<std::size_t>(length);
        if (length == 0 || rest.size() < size) {
            if (msBetween(m_lastByte, now) < kByteGapMs) {
                break;
            }
            ++at;
            continue;
        }
        const auto frame = rest.first(size);
        if (crcHolds(frame)) {
            settle(frame, now);
            at += size;
        } else {
            ++at;
        }
    }
    b.erase(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(at));
    dropUnanswerable(now);
}

Clock::time_point RequestTracker::nextLook(Clock::time_point now,
                                           Clock::time_point deadline) const {
    if (!m_received.empty()) {
        return std::min(deadline, now + std::chrono::milliseconds(kByteGapMs));
    }
    return deadline;
}

/// Whether an answer of shape s is r's: what r asked for, or an exception to its function.
bool RequestTracker::answers(const Request& r, const Shape& s) {
    return !r.unknownPast && (r.answer == s || s == exceptionTo(r.answer));
}

/// An answer settles the oldest request of its shape and all before it: the meter answers in order.
void RequestTracker::settle(std::span<const std::uint8_t> frame, Clock::time_point now) {
    const Shape s = shapeOf(frame);
    const auto match = std::find_if(m_unsettled.begin(), m_unsettled.end(),
                                    [&](const Request& r) { return answers(r, s); });
    if (match == m_unsettled.end()) {
        return;
    }
    const Request r = *match;
    m_unsettled.erase(m_unsettled.begin(), match + 1);
    m_lastSettled = now;
    if (r.id == m_waitingFor) {
        m_answer = Bytes(frame.begin(), frame.end());
    }
    learn(r, now);
}

/// Learns from a request settled by its answer: late ones raise the timeout, a run of answered
/// calls lets it fall back to what they needed.
void RequestTracker::learn(const Request& r, Clock::time_point now) {
    const int lateness = std::max(0, msBetween(r.sent, now) - r.wireMs);
    if (r.id != m_waitingFor) {
        raiseTimeout(lateness);
        return;
    }
    m_runLatenessMs = std::max(m_runLatenessMs, lateness);
    if (++m_answeredRun >= kShrinkAfterCalls) {
        const int needed = m_runLatenessMs + m_runLatenessMs / 4 + 20;
        m_timeoutMs = std::clamp(needed, kBaseTimeoutMs, m_timeoutMs);
        m_answeredRun = 0;
        m_runLatenessMs = 0;
    }
}

void RequestTracker::raiseTimeout(int latenessMs) {
    const int wanted = std::min(kTimeoutCapMs, latenessMs + latenessMs / 4 + 20);
    m_timeoutMs = std::max(m_timeoutMs, wanted);
}

/// How long after r, or after the last byte seen, the meter could still answer it.
int RequestTracker::answerLimitMs(const Request& r) {
    return kMaxLatenessMs + r.wireMs + kSettleMarginMs;
}

/// A request the meter would have answered by now, the line having been silent as long, was
/// dropped; so was everything before it.
void RequestTracker::dropUnanswerable(Clock::time_point now) {
    while (!m_unsettled.empty()) {
        const Request& oldest = m_unsettled.front();
        const auto since = std::max(oldest.sent, m_lastByte);
        if (msBetween(since, now) <= answerLimitMs(oldest)) {
            break;
        }
        m_unsettled.pop_front();
    }
}

// --- Requests going out ---

/// A meter serves one request at a time: once it is seen answering requests sent before the
/// newest one, another would only queue behind that one and make every answer later, so the call
/// waits for it (it comes within the meter's longest lateness, or not at all). While nothing has
/// been answered since the newest went out, the meter may have dropped it, and asking again is
/// what brings a meter back after silence at once.
bool RequestTracker::mayAsk(Clock::time_point now) const {
    if (m_unsettled.empty() || m_unsettled.back().unknownPast) {
        return true;
    }
    const Request& newest = m_unsettled.back();
    return m_lastSettled < newest.sent || msBetween(m_lastSettled, now) > answerLimitMs(newest);
}

bool RequestTracker::conflicts(const Shape& answer) const {
    return std::any_of(m_unsettled.begin(), m_unsettled.end(),
                       [&](const Request& r) { return r.unknownPast || r.answer == answer; });
}

/// The shortest sync whose answer settles every request that could answer in place of one of
/// answer's shape, preferring one no unsettled request shares, as its answer then settles exactly
/// itself and all before it. An answer settles the oldest unsettled request of its shape, so a
/// sync may share its shape only with requests sent after all of those.
std::optional<Sync> RequestTracker::syncFor(const Shape& answer) const {
    std::size_t conflicting = 0;
    for (std::size_t i = 0; i < m_unsettled.size(); ++i) {
        const Request& r = m_unsettled[i];
        if (r.unknownPast || r.answer == answer) {
            conflicting = i + 1;
        }
    }
    const auto firstFreeUntil = [&](std::size_t until) -> std::optional<Sync> {
        const auto end = m_unsettled.begin() + static_cast<std::ptrdiff_t>(until);
        for (const Sync sync : kSyncs) {
            const Shape s = syncShape(answer.slave, sync);
            if (std::none_of(m_unsettled.begin(), end,
                             [&](const Request& r) { return !r.unknownPast && r.answer == s; })) {
                return sync;
            }
        }
        return std::nullopt;
    };
    const auto fresh = firstFreeUntil(m_unsettled.size());
    return fresh ? fresh : firstFreeUntil(conflicting);
}

std::uint64_t RequestTracker::track(const Shape& answer, int wireMs, Clock::time_point sent) {
    Request r;
    r.id = m_nextId++;
    r.answer = answer;
    r.wireMs = wireMs;
    r.sent = sent;
    m_unsettled.push_back(r);
    return r.id;
}

// --- Calls and the line ---

void RequestTracker::startCall() {
    m_answer.reset();
    m_waitingFor = 0;
}

std::optional<Bytes> RequestTracker::finishCall() {
    std::optional<Bytes> got = std::move(m_answer);
    m_answer.reset();
    m_waitingFor = 0;
    if (!got || ((*got)[1] & kExceptionBit) != 0) {
        m_answeredRun = 0;
        m_runLatenessMs = 0;
        return std::nullopt;
    }
    return got;
}

void RequestTracker::lineOpened(Clock::time_point now) {
    m_timeoutMs = kBaseTimeoutMs;
    m_answeredRun = 0;
    m_runLatenessMs = 0;
    if (m_unsettled.empty()) {
        Request past;
        past.unknownPast = true;
        past.sent = now;
        m_unsettled.push_back(past);
    }
}

} // namespace modbus485
