#pragma once

#include "link/MeasurementStore.h"
#include "link/MeterAccess.h"

#include <QString>

#include <functional>
#include <memory>

namespace meterlink {
class Met1;
}
namespace monitor {
class ssqx;
}
namespace trend {
class mscom;
}

namespace app {

class frmSplash;

/// The running station: the shared state, the meter-access library and the windows, brought up
/// through the splash in their start-up order.
class Station {
  public:
    /// Loads the meter-access library beside the executable.
    Station();
    /// Loads the meter-access library from a file (tests load a scripted double).
    explicit Station(const QString& meterLibrary);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    /// Shows the splash; the main window follows about 1.5 s later.
    void start();

    /// Brings the station's window to the front, out of its minimised state: the main window,
    /// or while it is hidden the window shown in its place.
    void bringToFront();

    /// How "退出" ends the process (tests replace it before start()).
    void setEndProcess(std::function<void()> endProcess) { m_endProcess = std::move(endProcess); }

    meterlink::SharedState& state() { return m_state; }
    meterlink::MeterAccess& meter() { return *m_meter; }
    frmSplash* splash() { return m_splash; }
    monitor::ssqx* mainWindow() { return m_main.get(); }
    meterlink::Met1* met1() { return m_met1.get(); }
    trend::mscom* recorder() { return m_mscom.get(); }

  private:
    void handOver();

    meterlink::SharedState m_state;
    std::unique_ptr<meterlink::MeterAccess> m_meter;
    frmSplash* m_splash = nullptr;
    std::unique_ptr<monitor::ssqx> m_main;
    std::unique_ptr<meterlink::Met1> m_met1;
    std::unique_ptr<trend::mscom> m_mscom;
    std::function<void()> m_endProcess;
};

} // namespace app
