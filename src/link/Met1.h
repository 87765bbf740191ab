#pragma once

#include "common/TickGuard.h"
#include "link/MeasurementStore.h"
#include "link/MeterAccess.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace meterlink {

/// Hidden host of the acquisition cycle: every 500 ms, while the link is open, it reads the
/// sixteen measurements, the model code and the two alarm relays into the measurement store.
class Met1 : public QObject {
    Q_OBJECT

  public:
    static constexpr int kIntervalMs = 500;

    Met1(SharedState& state, MeterAccess& meter, QObject* parent = nullptr);

    /// The acquisition timer: disabled when created, enabled by "打开", disabled by "关闭".
    QTimer& Timer1() { return m_timer1; }

    /// One acquisition tick. A tick that would start while another one is waiting at a yield
    /// is skipped, so a silent meter cannot pile ticks onto the stack.
    void Timer1_Timer();

    /// Replaces the yield between library calls (tests record where it happens).
    void setYield(std::function<void()> yield) { m_yield = std::move(yield); }

  private:
    void readFloatBlock(int firstRegister, int firstSlot);
    void acquire();

    SharedState& m_state;
    MeterAccess& m_meter;
    QTimer m_timer1;
    std::function<void()> m_yield;
    common::TickGuard m_tickGuard;
};

} // namespace meterlink
