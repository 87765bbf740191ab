#pragma once

#include "common/BoundedArray.h"
#include "common/TickGuard.h"
#include "link/MeasurementStore.h"
#include "link/MeterAccess.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace config {

/// The configuration window: the meter's 28 parameters read once a second on four pages, each
/// written on its own with "修改". "Esc 返回" unloads it and shows the main window again.
class CONFIG1 : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kReadIntervalMs = 1000;

    /// Creates and loads the window (Form_Load); it is shown by the caller.
    CONFIG1(meterlink::SharedState& state, meterlink::MeterAccess& meter, QWidget* mainWindow);

    /// One read of the four register blocks into ParamReg and the current-value fields, with a
    /// yield between blocks. Skipped while another tick waits at a yield; stops at a yield after
    /// which the window was unloaded.
    void Timer1_Timer();
    /// Writes parameter Index from its entry control, once more if the meter refuses it.
    void Command3_Click(std::int16_t Index);
    void Command11_Click();

    /// Replaces the yield between read blocks (tests act inside it).
    void setYield(std::function<void()> yield) { m_yield = std::move(yield); }

    /// The list that is the entry control of parameter index, or nullptr for typed parameters.
    [[nodiscard]] QComboBox* listOf(int index) const { return m_lists.value(index, nullptr); }

    common::BoundedArray<std::int32_t, 0, 100> ParamReg;

    QTabWidget* SSTab1 = nullptr;
    common::BoundedArray<QLabel*, 0, 27> Label1;
    common::BoundedArray<QLineEdit*, 0, 27> D_4WRW;
    common::BoundedArray<QLineEdit*, 0, 27> D_4wT;
    common::BoundedArray<QPushButton*, 0, 27> Command3;
    QPushButton* Command11 = nullptr;
    QTimer Timer1;

  protected:
    /// Closing by the frame returns to the main window like "Esc 返回", so it is never left hidden.
    void closeEvent(QCloseEvent* event) override;
    /// The frame shows no title text, not even the program's name.
    void showEvent(QShowEvent* event) override;

  private:
    /// Fills the lists, each on its first item, and starts the read timer.
    void Form_Load();
    void buildRows();
    void readBlock(int block);
    void showParameter(int index);
    /// Stops the reads, shows the main window and deletes the window once no tick uses it.
    void unload();
    void deleteWhenIdle();

    meterlink::SharedState& m_state;
    meterlink::MeterAccess& m_meter;
    QPointer<QWidget> m_mainWindow;
    common::BoundedArray<QComboBox*, 0, 27> m_lists;
    std::function<void()> m_yield;
    common::TickGuard m_tickGuard;
    bool m_unloaded = false;
};

} // namespace config
