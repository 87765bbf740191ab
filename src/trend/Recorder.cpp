#include "trend/Recorder.h"

#include "common/DayNumber.h"
#include "common/NumberText.h"
#include "trend/TrendState.h"

#include <cmath>
#include <cstdio>

namespace trend {

namespace {
constexpr double kSecondsPerDay = 24.0 * 60.0 * 60.0;
} // namespace

Recorder::Recorder(ReadingLog& log, meterlink::SharedState& state)
    : m_log(log), m_state(state), m_report([](const QString& line) {
          // The window stays silent; standard error reaches the journal under a desktop session.
          std::fprintf(stderr, "vx310: %s\n", qUtf8Printable(line));
      }) {}

void Recorder::watch(bool stored) {
    if (stored) {
        m_failedInRow = 0;
        if (m_stopTold) {
            m_stopTold = false;
            if (m_report) {
                m_report(QStringLiteral("recording into %1 works again").arg(m_log.path()));
            }
        }
        return;
    }
    if (++m_failedInRow >= kFailuresBeforeReport && !m_stopTold) {
        m_stopTold = true;
        if (m_report) {
            m_report(QStringLiteral("recording into %1 stopped: %2")
                         .arg(m_log.path(), m_log.faultCause()));
        }
    }
}

std::int64_t Recorder::okitime() const {
    // Date and time come from one reading of the clock, so midnight cannot fall between them.
    const QDateTime now = common::clockNow();
    const double days = (common::dateSerial(now.date()) - lastRecordDate) +
                        (common::timeSerial(now.time()) - lastRecordTime);
    const double seconds = common::roundHalfEven(days * kSecondsPerDay);
    if (!std::isfinite(seconds)) {
        return 0;
    }
    return static_cast<std::int64_t>(std::fabs(seconds));
}

void Recorder::continueWithoutControlRow() {
    // Within a run the recorder's own last snapshot is the newest, even after the clock was set
    // back; otherwise the newest by its own moment, so no stored snapshot is overwritten early.
    if (m_storedInOpening != 0 && m_storedInOpening == m_log.openings()) {
        return;
    }
    if (const auto newest = m_log.newestRecordByMoment()) {
        recordCounter = *newest;
    }
}

void Recorder::step() {
    m_log.ensureOpen();
    const ControlRow row = m_log.readControlRow();
    if (row.state == ControlRow::State::Sound) {
        recordCounter = row.lastId;
    }
    if (recordCounter >= kRingSize || recordCounter < 0) {
        recordCounter = 0;
    }
    if (okitime() < 1) {
        return;
    }
    if (row.state == ControlRow::State::Missing || row.state == ControlRow::State::Damaged) {
        continueWithoutControlRow();
    }
    recordCounter = ringSuccessor(recordCounter);

    const QDateTime now = common::clockNow();
    lastRecordTime = common::timeSerial(now.time());
    lastRecordDate = common::dateSerial(now.date());

    Snapshot snapshot;
    snapshot.recordNumber = recordCounter;
    snapshot.date = lastRecordDate;
    snapshot.time = lastRecordTime;
    snapshot.month = now.date().month();
    for (int k = 0; k < kValueColumns; ++k) {
        snapshot.values[static_cast<std::size_t>(k)] = m_state.store.LiveVal.value(k);
    }
    const bool stored = m_log.writeSnapshot(snapshot);
    if (stored) {
        m_storedInOpening = m_log.openings();
    }
    watch(stored);

    if (m_state.mainWindowLoaded) {
        m_state.newRecordReady = true;
    }
}

} // namespace trend
