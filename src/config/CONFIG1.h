#pragma once

#include "link/MeasurementStore.h"
#include "link/MeterAccess.h"

#include <QPointer>
#include <QWidget>

class QPushButton;

namespace config {

/// The configuration window, opened from the main window while the link is open. "Esc 返回"
/// unloads it and shows the main window again.
class CONFIG1 : public QWidget {
    Q_OBJECT

  public:
    CONFIG1(meterlink::SharedState& state, meterlink::MeterAccess& meter, QWidget* mainWindow);

    void Command11_Click();

    QPushButton* Command11 = nullptr;

  protected:
    /// Closing by the frame returns to the main window like "Esc 返回", so it is never left hidden.
    void closeEvent(QCloseEvent* event) override;

  private:
    meterlink::SharedState& m_state;
    meterlink::MeterAccess& m_meter;
    QPointer<QWidget> m_mainWindow;
};

} // namespace config
