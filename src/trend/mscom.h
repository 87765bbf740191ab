#pragma once

#include "link/MeasurementStore.h"

#include <QObject>
#include <QTimer>

namespace trend {

/// Hidden host of the recorder: its 100 ms timer runs from creation until the process ends.
class mscom : public QObject {
  public:
    static constexpr int kIntervalMs = 100;

    explicit mscom(meterlink::SharedState& state, QObject* parent = nullptr)
        : QObject(parent), m_state(state) {
        setObjectName(QStringLiteral("mscom"));
        Timer1.setInterval(kIntervalMs);
        connect(&Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
        Timer1.start();
    }

    /// One recording step; the reading log fills it in.
    void Timer1_Timer() {}

    QTimer Timer1;

  private:
    [[maybe_unused]] meterlink::SharedState& m_state;
};

} // namespace trend
