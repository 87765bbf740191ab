#pragma once

#include "link/MeasurementStore.h"
#include "trend/ReadingLog.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace trend {

/// The recording step: at most one snapshot of the live readings per clock second into the ring
/// of the reading log, then the announcement to the main window. It never yields.
class Recorder {
  public:
    Recorder(ReadingLog& log, meterlink::SharedState& state);

    /// Snapshots that fail in a row before the stop is told, so a log held for a moment by
    /// another program says nothing.
    static constexpr int kFailuresBeforeReport = 3;

    /// One tick of the recorder's timer.
    void step();

    /// Where the recorder tells, one line each, that recording stopped (naming the cause) and
    /// that it works again; standard error unless replaced.
    void setReport(std::function<void(const QString&)> report) { m_report = std::move(report); }

    /// Whole seconds between the clock now and the last snapshot, whichever way the clock went.
    [[nodiscard]] std::int64_t okitime() const;

    /// Record number of the last snapshot, reloaded from the control row at every tick.
    std::int32_t recordCounter = 0;
    /// Date and time of day of the last snapshot of this run; 0 at start, so the first tick writes.
    double lastRecordDate = 0;
    double lastRecordTime = 0;

  private:
    /// The record number to go on after when the control row cannot say it.
    void continueWithoutControlRow();
    /// Counts a snapshot stored or lost and tells when recording stops or works again.
    void watch(bool stored);

    ReadingLog& m_log;
    meterlink::SharedState& m_state;
    /// Opening of the log into which this run last stored a snapshot; 0 for none yet.
    std::uint64_t m_storedInOpening = 0;
    int m_failedInRow = 0;
    bool m_stopTold = false;
    std::function<void(const QString&)> m_report;
};

} // namespace trend
