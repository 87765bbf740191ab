#pragma once

#include "common/BoundedArray.h"
#include "link/MeasurementStore.h"
#include "link/MeterAccess.h"

#include <QObject>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QWidget;

namespace meterlink {

class Met1;

/// The link panel of the main window: port, meter address, baud rate, parity, "打开" and "关闭".
/// Its choices take effect only when copied into PortSet by "打开".
class LinkPanel : public QObject {
    Q_OBJECT

  public:
    LinkPanel(QWidget* host, SharedState& state, MeterAccess& meter);

    /// Fills the lists and selects the defaults: port "1 ", address "1 ", 9600, no parity.
    void setDefaults();

    /// The button that opens the configuration window, enabled exactly while the link is open.
    void setConfigButton(QPushButton* button) { m_command21 = button; }
    /// The acquisition cycle, created after the main window at start-up.
    void setAcquisition(Met1* met1) { m_met1 = met1; }

    void Command9_Click();
    void Command10_Click();

    QGroupBox* Frame6 = nullptr;
    QGroupBox* Frame5[2] = {};
    QGroupBox* Frame2_1 = nullptr;
    QLabel* Label1[2] = {};
    QComboBox* Combo1 = nullptr;
    QComboBox* Combo2 = nullptr;
    QRadioButton* Option1[3] = {};
    QRadioButton* Option2[3] = {};
    QPushButton* Command9 = nullptr;
    QPushButton* Command10 = nullptr;

  private:
    void copyListNumber(const QComboBox* list, int slot);

    SharedState& m_state;
    MeterAccess& m_meter;
    QPushButton* m_command21 = nullptr;
    Met1* m_met1 = nullptr;
};

} // namespace meterlink
