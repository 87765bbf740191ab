#pragma once

#include "link/MeasurementStore.h"
#include "trend/ReadingLog.h"
#include "trend/Recorder.h"

#include <QObject>
#include <QTimer>

namespace trend {

/// Hidden host of the recorder: its own connection to the reading log, opened at creation, and
/// its 100 ms timer, which runs from creation until the process ends.
class mscom : public QObject {
  public:
    static constexpr int kIntervalMs = 100;
    static constexpr const char* kConnectionName = "mscom";

    explicit mscom(meterlink::SharedState& state, QObject* parent = nullptr,
                   const QString& logPath = readingLogPath())
        : QObject(parent), m_log(QString::fromLatin1(kConnectionName), logPath),
          m_recorder(m_log, state) {
        setObjectName(QStringLiteral("mscom"));
        m_log.open();
        Timer1.setInterval(kIntervalMs);
        connect(&Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
        Timer1.start();
    }

    /// One recording step.
    void Timer1_Timer() { m_recorder.step(); }

    ReadingLog& log() { return m_log; }
    Recorder& recorder() { return m_recorder; }

    QTimer Timer1;

  private:
    ReadingLog m_log;
    Recorder m_recorder;
};

} // namespace trend
