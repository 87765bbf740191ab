#pragma once

#include "common/BoundedArray.h"
#include "link/MeasurementStore.h"
#include "link/MeterAccess.h"
#include "monitor/PrintRoutine.h"
#include "monitor/SelectionWindow.h"
#include "trend/ReadingLog.h"
#include "trend/TrendNavigation.h"
#include "trend/TrendState.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace trend {
class TrendSurface;
}

namespace meterlink {
class LinkPanel;
class Met1;
} // namespace meterlink

namespace monitor {

/// The main window "VX310 三相多功能表": link panel, live readings, alarms, clock, trend chart and
/// its function column.
class ssqx : public QWidget {
    Q_OBJECT

  public:
    static constexpr const char* kConnectionName = "ssqx";

    ssqx(meterlink::SharedState& state, meterlink::MeterAccess& meter, QWidget* parent = nullptr);
    ~ssqx() override;

    /// The load: link panel defaults, database, history window, then the window's timers.
    void Form_Load();

    void setAcquisition(meterlink::Met1* met1);
    /// How "退出" ends the process (tests replace it).
    void setEndProcess(std::function<void()> endProcess) { m_endProcess = std::move(endProcess); }
    /// How the print routine asks for a printer: false prints nothing (tests set a PDF file).
    void setPrinterChooser(PrintRoutine::PrinterChooser choose) {
        m_print->setPrinterChooser(std::move(choose));
    }
    /// How "导出" asks for the file to write: an empty name writes nothing.
    void setExportFileChooser(std::function<QString(const QString&)> choose) {
        m_chooseExportFile = std::move(choose);
    }

    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command7_Click();
    void Command8_Click();
    void Command21_Click();
    void Command26_Click();
    void Label5_DblClick();
    /// The ruler slider moved (by the operator or by code).
    void hc_Change();
    void D_2R_Click();

    /// The trend's live extension: append the live values at viewEnd and clear newRecordReady.
    void extendTrendLive();
    /// Fills the trend buffer with the history window ending at windowEnd.
    void loadHistory();
    /// Clear the chart, drawGrid, applyZoom, drawTrend.
    void redrawTrend();
    /// Brings the recorded snapshot nearest a moment (a day number) onto the chart, as the steps
    /// back that reach it would.
    void jumpToMoment(double moment);
    /// Writes the snapshots between two moments to a file the operator names, as CSV.
    void exportSpan(double from, double to);
    /// The selection window "选择" while it is open.
    [[nodiscard]] SelectionWindow* selectionWindow() const { return m_selection; }

    bool closeLocked = false;
    bool printRequest = false;
    trend::TrendBuffer m_trendBuffer;
    trend::TrendView m_view;
    /// The window's own connection to the reading log; it only reads.
    trend::ReadingLog m_log{QString::fromLatin1(kConnectionName)};

    QGroupBox* Frame4 = nullptr;
    common::BoundedArray<QLabel*, 0, 25> D_3W;
    common::BoundedArray<QLabel*, 0, 17> Label1;
    QLabel* m_modelCaption = nullptr;
    QGroupBox* Frame2_0 = nullptr;
    common::BoundedArray<QLabel*, 0, 5> Label5;
    QLabel* Label9 = nullptr;
    QLineEdit* YKD = nullptr;
    QPushButton* Command26 = nullptr;
    QWidget* pt0 = nullptr;
    trend::TrendSurface* pt = nullptr;
    QSlider* hc = nullptr;
    common::BoundedArray<QLabel*, 0, 8> Label7;
    common::BoundedArray<QLabel*, 0, 8> Label4;
    QGroupBox* Frame3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* Command6 = nullptr;
    QPushButton* Command7 = nullptr;
    QPushButton* Command8 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QPushButton* Command21 = nullptr;
    QPushButton* Command1 = nullptr;
    common::BoundedArray<QLabel*, 9, 10> Label2;
    common::BoundedArray<QLabel*, 0, 1> D_2R;
    QLabel* Label10 = nullptr;
    /// Holds the picture on its way to the printer; never shown.
    QLabel* Image2 = nullptr;
    meterlink::LinkPanel* m_linkPanel = nullptr;

    QTimer Timer1;
    QTimer Timer2;
    QTimer Timer3;
    QTimer Timer4;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildReadingsBand();
    void buildAxisColumn();
    void buildChart();
    void buildFunctionColumn();
    void buildCommandBar();
    void buildStatusLabels();
    /// Handles a function key or Esc; false when the key is not one of the window's.
    bool handleKey(int key);
    void closeDatabase();
    std::optional<trend::NewestRecord> readNewestRecord();
    void showFullScaleEditor(bool shown);
    /// Carries out what a navigation command asks of the window's controls and timers.
    void applyNavigation(const trend::NavigationRequests& requests);
    /// The ruler to the slider's position and its read-out; at an end, the step there when
    /// endSteps is set.
    void moveRuler(bool endSteps);
    /// Backgrounds of the read-out labels: the date and time, and the readings the ruler reads.
    void colourReadOut(common::Rgb dateAndTime, common::Rgb readings);

    meterlink::SharedState& m_state;
    meterlink::MeterAccess& m_meter;

    std::function<void()> m_endProcess;
    std::unique_ptr<PrintRoutine> m_print;
    std::function<QString(const QString&)> m_chooseExportFile;
    QPointer<SelectionWindow> m_selection;
    const trend::NewestRecordReader m_readNewest = [this] { return readNewestRecord(); };
    /// The held thumb was moved onto one of the slider's ends and is still there.
    bool m_thumbArrivedAtEnd = false;
};

} // namespace monitor
