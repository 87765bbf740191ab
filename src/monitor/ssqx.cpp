#include "monitor/ssqx.h"

#include "common/DayNumber.h"
#include "common/NumberText.h"
#include "common/Twips.h"
#include "config/CONFIG1.h"
#include "link/LinkPanel.h"
#include "link/Met1.h"
#include "monitor/LiveDisplay.h"
#include "monitor/PrintRoutine.h"
#include "monitor/SelectionWindow.h"
#include "trend/HistoryQuery.h"
#include "trend/MomentSelection.h"
#include "trend/SnapshotExport.h"
#include "trend/TrendChart.h"
#include "trend/TrendSurface.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>

#include <cstdio>
#include <cstdlib>

namespace monitor {

using common::px;
using common::twipsRect;

namespace {
constexpr int kClientWidth = 15360;
constexpr int kClientHeight = 11520;
constexpr int kDisplayIntervalMs = 200;
constexpr int kRedrawIntervalMs = 1000;
constexpr int kClockIntervalMs = 1000;
constexpr int kPrintIntervalMs = 1000;
constexpr int kChartLeft = 1620;
constexpr int kChartTop = 2310;
constexpr int kTimeCaptionStep = 1500;
constexpr int kFirstRulerStep = 150;

void setBackground(QWidget* widget, QRgb colour) {
    // The display tick sets these five times a second; an unchanged colour needs no repaint.
    if (widget == nullptr || (widget->autoFillBackground() &&
                              widget->palette().color(QPalette::Window).rgb() == colour)) {
        return;
    }
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(colour));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void setTextColour(QWidget* widget, QRgb colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, QColor::fromRgb(colour));
    widget->setPalette(palette);
}

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, QRect where) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(where);
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, QRect where) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(where);
    button->setAutoDefault(false);
    return button;
}

template <typename Array> void setLabelText(Array& labels, int index, const QString& text) {
    if (QLabel* label = labels.value(index, nullptr)) {
        label->setText(text);
    }
}

void endProcessNow() {
    std::fflush(nullptr);
    std::_Exit(0);
}
} // namespace

ssqx::ssqx(meterlink::SharedState& state, meterlink::MeterAccess& meter, QWidget* parent)
    : QWidget(parent), m_state(state), m_meter(meter), m_endProcess(endProcessNow),
      m_chooseExportFile([this](const QString& suggested) {
          return QFileDialog::getSaveFileName(this, QStringLiteral("导出"), suggested,
                                              QStringLiteral("CSV (*.csv)"));
      }) {
    setObjectName(QStringLiteral("ssqx"));
    setWindowTitle(QStringLiteral("VX310 三相多功能表"));
    setFixedSize(px(kClientWidth), px(kClientHeight));

    m_linkPanel = new meterlink::LinkPanel(this, m_state, m_meter);
    Label1.set(0, m_linkPanel->Label1[0]);
    Label1.set(1, m_linkPanel->Label1[1]);

    buildReadingsBand();
    buildAxisColumn();
    buildChart();
    buildFunctionColumn();
    buildCommandBar();
    buildStatusLabels();
    m_linkPanel->setConfigButton(Command21);
    m_print = std::make_unique<PrintRoutine>(*this, *Image2);

    Timer1.setInterval(kDisplayIntervalMs);
    Timer2.setInterval(kRedrawIntervalMs);
    Timer3.setInterval(kClockIntervalMs);
    Timer4.setInterval(kPrintIntervalMs);
    connect(&Timer1, &QTimer::timeout, this, &ssqx::Timer1_Timer);
    connect(&Timer2, &QTimer::timeout, this, &ssqx::Timer2_Timer);
    connect(&Timer3, &QTimer::timeout, this, &ssqx::Timer3_Timer);
    connect(&Timer4, &QTimer::timeout, this, &ssqx::Timer4_Timer);

    // Function keys reach the window whichever control has the focus.
    qApp->installEventFilter(this);
}

ssqx::~ssqx() {
    qApp->removeEventFilter(this);
    closeDatabase();
}

void ssqx::buildReadingsBand() {
    Frame4 = new QGroupBox(QStringLiteral("真有效值测量"), this);
    Frame4->setObjectName(QStringLiteral("Frame4"));
    Frame4->setGeometry(twipsRect(-30, 630, 15315, 1335));
    setTextColour(Frame4, qRgb(0, 0, 255));

    for (const ReadingLayout& reading : kReadings) {
        const int width = reading.index == 14 ? kWideReadingWidth : kReadingWidth;
        auto* value = makeLabel(Frame4, QStringLiteral("D_3W_%1").arg(reading.index), QString(),
                                twipsRect(reading.left, reading.top, width, kReadingHeight));
        value->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        value->setAlignment(Qt::AlignCenter);
        setTextColour(value, qRgb(0, 0, 0));
        setBackground(value, kReadingBackground);
        D_3W.set(reading.index, value);

        constexpr int kCaptionWidth = 1020;
        auto* caption = makeLabel(Frame4, QStringLiteral("Label1_%1").arg(reading.captionIndex),
                                  QString::fromUtf8(reading.reading().caption),
                                  twipsRect(reading.left - kCaptionWidth - 30, reading.top,
                                            kCaptionWidth, kReadingHeight));
        caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        setTextColour(caption, reading.captionColour);
        Label1.set(reading.captionIndex, caption);
    }
}

void ssqx::buildAxisColumn() {
    Frame2_0 = new QGroupBox(this);
    Frame2_0->setObjectName(QStringLiteral("Frame2_0"));
    Frame2_0->setGeometry(twipsRect(60, 2010, 1275, 7845));

    const int tops[] = {6390, 5160, 3900, 2670, 1440, 210};
    for (int i = 0; i < 6; ++i) {
        auto* label = makeLabel(Frame2_0, QStringLiteral("Label5_%1").arg(i),
                                QString::number((i + 1) * 100), twipsRect(90, tops[i], 1080, 285));
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        setTextColour(label, qRgb(255, 0, 0));
        label->installEventFilter(this);
        Label5.set(i, label);
    }
    Label9 = makeLabel(Frame2_0, QStringLiteral("Label9"), QStringLiteral("Y刻度"),
                       twipsRect(90, 660, 495, 225));
    YKD = new QLineEdit(Frame2_0);
    YKD->setObjectName(QStringLiteral("YKD"));
    YKD->setGeometry(twipsRect(540, 630, 615, 285));
    Command26 = makeButton(Frame2_0, "Command26", QStringLiteral("修改Y刻度"),
                           twipsRect(120, 990, 1065, 315));
    connect(Command26, &QPushButton::clicked, this, &ssqx::Command26_Click);
    showFullScaleEditor(false);
}

void ssqx::buildChart() {
    pt0 = new QFrame(this);
    pt0->setObjectName(QStringLiteral("pt0"));
    pt = new trend::TrendSurface(pt0);
    pt->setObjectName(QStringLiteral("pt"));
    setBackground(pt0, qRgb(255, 255, 255));
    setBackground(pt, trend::kChartBackground);

    hc = new QSlider(Qt::Horizontal, this);
    hc->setObjectName(QStringLiteral("hc"));
    hc->setRange(trend::kRulerLeftEnd, trend::kRulerRightEnd);
    hc->setGeometry(px(kChartLeft), px(kChartTop) - 21, px(12010), 20);
    // Until the first zoom the arrow keys move the ruler by one point of the closest level.
    hc->setSingleStep(kFirstRulerStep);
    hc->setPageStep(kFirstRulerStep);
    connect(hc, &QSlider::valueChanged, this, &ssqx::hc_Change);
    connect(hc, &QSlider::sliderPressed, this, [this] { m_thumbArrivedAtEnd = false; });
    connect(hc, &QSlider::sliderReleased, this, [this] { moveRuler(m_thumbArrivedAtEnd); });

    const int captionTop = kChartTop + 7510 + 15;
    constexpr int kCaptionWidth = 1200;
    constexpr int kCaptionHalf = kCaptionWidth / 2;
    for (int i = 0; i < trend::kTimeCaptions; ++i) {
        const int centre = kChartLeft + kTimeCaptionStep * i;
        auto* date =
            makeLabel(this, QStringLiteral("Label7_%1").arg(i), QStringLiteral("2001/07/19"),
                      twipsRect(centre - kCaptionHalf, captionTop, kCaptionWidth, 240));
        auto* time =
            makeLabel(this, QStringLiteral("Label4_%1").arg(i), QStringLiteral("00:00:00"),
                      twipsRect(centre - kCaptionHalf, captionTop + 240, kCaptionWidth, 240));
        date->setAlignment(Qt::AlignCenter);
        time->setAlignment(Qt::AlignCenter);
        Label7.set(i, date);
        Label4.set(i, time);
    }
}

void ssqx::buildFunctionColumn() {
    Frame3 = new QGroupBox(QStringLiteral("功能"), this);
    Frame3->setObjectName(QStringLiteral("Frame3"));
    Frame3->setGeometry(twipsRect(13920, 2130, 1395, 7695));

    constexpr int kLeft = 150;
    constexpr int kWidth = 1095;
    constexpr int kHeight = 405;
    constexpr int kPitch = 1110;
    constexpr int kFirstTop = 330;
    const auto at = [&](int row) {
        return twipsRect(kLeft, kFirstTop + row * kPitch, kWidth, kHeight);
    };
    Command4 = makeButton(Frame3, "Command4", QStringLiteral("F1 缩小"), at(0));
    Command3 = makeButton(Frame3, "Command3", QStringLiteral("F2 放大"), at(1));
    Command2 = makeButton(Frame3, "Command2", QStringLiteral("F3 打印"), at(2));
    Command5 = makeButton(Frame3, "Command5", QStringLiteral("F4 标尺"), at(3));
    Command6 = makeButton(Frame3, "Command6", QStringLiteral("F5 选择"), at(4));
    Command7 = makeButton(Frame3, "Command7", QStringLiteral("F6 左移"), at(5));
    Command8 = makeButton(Frame3, "Command8", QStringLiteral("F7 右移"), at(6));
    connect(Command4, &QPushButton::clicked, this, &ssqx::Command4_Click);
    connect(Command3, &QPushButton::clicked, this, &ssqx::Command3_Click);
    connect(Command2, &QPushButton::clicked, this, &ssqx::Command2_Click);
    connect(Command5, &QPushButton::clicked, this, &ssqx::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &ssqx::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &ssqx::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &ssqx::Command8_Click);
}

void ssqx::buildCommandBar() {
    Frame1 = new QGroupBox(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(twipsRect(5670, 10680, 9525, 705));
    Command21 =
        makeButton(Frame1, "Command21", QStringLiteral("参数设置"), twipsRect(180, 180, 1095, 405));
    Command21->setEnabled(false);
    Command1 =
        makeButton(Frame1, "Command1", QStringLiteral("退出"), twipsRect(8250, 180, 1095, 405));
    connect(Command21, &QPushButton::clicked, this, &ssqx::Command21_Click);
    connect(Command1, &QPushButton::clicked, this, &ssqx::Command1_Click);
}

void ssqx::buildStatusLabels() {
    const QFont arial(QStringLiteral("Arial"), 9);
    auto* date = makeLabel(this, QStringLiteral("Label2_9"), QStringLiteral("2001-03-12"),
                           twipsRect(12750, 30, 1245, 285));
    auto* time = makeLabel(this, QStringLiteral("Label2_10"), QStringLiteral("18：42：00"),
                           twipsRect(14010, 30, 1305, 285));
    for (QLabel* label : {date, time}) {
        label->setFont(arial);
        label->setAlignment(Qt::AlignCenter);
        setTextColour(label, qRgb(255, 0, 0));
        setBackground(label, kClockBackground);
    }
    Label2.set(9, date);
    Label2.set(10, time);

    m_modelCaption = makeLabel(this, QStringLiteral("modelCaption"), QStringLiteral("型号"),
                               twipsRect(13800, 390, 570, 285));
    m_modelCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* model =
        makeLabel(this, QStringLiteral("D_3W_25"), QString(), twipsRect(14400, 390, 750, 285));
    model->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    model->setAlignment(Qt::AlignCenter);
    setBackground(model, kReadingBackground);
    D_3W.set(25, model);

    for (int i = 0; i < 2; ++i) {
        auto* alarm = makeLabel(this, QStringLiteral("D_2R_%1").arg(i), QString(),
                                twipsRect(i == 0 ? 210 : 1320, 10830, 1005, 285));
        alarm->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        alarm->setAlignment(Qt::AlignCenter);
        setBackground(alarm, kAlarmOffBackground);
        alarm->installEventFilter(this);
        D_2R.set(i, alarm);
    }
    Label10 = makeLabel(this, QStringLiteral("Label10"), QStringLiteral("报警状态"),
                        twipsRect(210, 11145, 2115, 255));
    Label10->setAlignment(Qt::AlignCenter);
    setTextColour(Label10, kAlarmCaptionColour);

    Image2 = new QLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->hide();
}

void ssqx::setAcquisition(meterlink::Met1* met1) { m_linkPanel->setAcquisition(met1); }

void ssqx::showFullScaleEditor(bool shown) {
    Label9->setVisible(shown);
    YKD->setVisible(shown);
    Command26->setVisible(shown);
}

void ssqx::Form_Load() {
    m_state.yFullScale = trend::kFullScaleAtLoad;
    m_linkPanel->setDefaults();
    m_view.atOldest = false;
    m_state.mainWindowLoaded = true;
    m_view.scrollSteps = 0;
    hc->setEnabled(false);
    Command3->setEnabled(false);
    Command7->setEnabled(false);
    for (int i = 1; i <= 321; ++i) {
        m_trendBuffer.gapMark.set(i, 0);
    }
    m_view.zoomLevel = 1;

    m_log.open();
    trend::returnToLive(m_view, [this] { return readNewestRecord(); });
    closeLocked = true;
    pt0->setGeometry(twipsRect(kChartLeft, kChartTop, trend::kFrameWidth, trend::kFrameHeight));
    pt->setGeometry(twipsRect(0, 0, trend::kSurfaceWidth, trend::kSurfaceHeight));
    m_view.rulerOn = false;
    hc->setFocusPolicy(Qt::ClickFocus);
    hc->setValue(0);
    pt->setRuler(trend::rulerLineOff());
    loadHistory();
    redrawTrend();

    Timer1.start();
    Timer2.start();
    Timer3.start();
    // The date and time labels are the clock from the start, not design texts for a second.
    Timer3_Timer();
}

std::optional<trend::NewestRecord> ssqx::readNewestRecord() {
    m_log.ensureOpen();
    const auto lastId = m_log.newestRecord();
    if (!lastId) {
        return std::nullopt;
    }
    return trend::NewestRecord{*lastId, trend::ringHasWrapped(m_log, *lastId)};
}

void ssqx::closeDatabase() { m_log.release(); }

void ssqx::Timer1_Timer() {
    const auto& store = m_state.store;
    if (!m_view.rulerOn) {
        setBackground(Label2.value(9, nullptr), kClockBackground);
        setBackground(Label2.value(10, nullptr), kClockBackground);
        for (int i = 0; i < kRulerMarkedReadings; ++i) {
            setBackground(D_3W.value(i, nullptr), kReadingBackground);
        }
    }
    for (int i = 0; i < 6; ++i) {
        setLabelText(Label5, i, axisCaption(m_state.yFullScale, i));
    }
    if (m_state.newRecordReady) {
        extendTrendLive();
    }
    for (const ReadingLayout& reading : kReadings) {
        if (const auto value = store.LiveVal.get(reading.index)) {
            // A reading that is not a number shows nothing, never the last one that was.
            setLabelText(D_3W, reading.index,
                         readingText(*value, reading.reading().form).value_or(QString()));
        }
    }
    for (int alarm = 0; alarm < 2; ++alarm) {
        if (const auto coil = store.AlarmCoil.get(alarm)) {
            const AlarmLook look = alarmLook(alarm, *coil);
            setLabelText(D_2R, alarm, look.text);
            setBackground(D_2R.value(alarm, nullptr), look.background);
        }
    }
}

void ssqx::extendTrendLive() {
    applyNavigation(
        trend::extendLive(m_view, m_trendBuffer, [this] { return readNewestRecord(); }));
    const int at = m_view.viewEnd;
    for (int c = 0; c < trend::kDrawnChannels; ++c) {
        if (const auto live = m_state.store.LiveVal.get(c)) {
            m_trendBuffer.setValue(c, at, *live);
        }
    }
    const QDateTime now = common::clockNow();
    m_trendBuffer.trendDate.set(at, common::dateSerial(now.date()));
    m_trendBuffer.trendTime.set(at, common::timeSerial(now.time()));
    m_state.newRecordReady = false;
    redrawTrend();
}

void ssqx::loadHistory() {
    m_log.ensureOpen();
    const trend::ReadOut readOut = trend::loadHistory(m_log, m_trendBuffer, m_view);
    if (readOut.date) {
        setLabelText(Label2, 9, *readOut.date);
    }
    if (readOut.time) {
        setLabelText(Label2, 10, *readOut.time);
    }
}

void ssqx::redrawTrend() {
    trend::ChartPicture picture = trend::redrawSequence(m_trendBuffer, m_view, m_state.yFullScale);
    for (int i = 0; i < trend::kTimeCaptions; ++i) {
        const auto index = static_cast<std::size_t>(i);
        if (picture.dates[index]) {
            setLabelText(Label7, i, *picture.dates[index]);
        }
        if (picture.times[index]) {
            setLabelText(Label4, i, *picture.times[index]);
        }
    }
    pt->setLines(std::move(picture.lines));
}

void ssqx::Timer2_Timer() { redrawTrend(); }

void ssqx::Timer3_Timer() {
    if (const auto model = m_state.store.MeterReg.get(meterlink::kModelCodeSlot)) {
        if (const auto text = common::generalForm(*model)) {
            setLabelText(D_3W, 25, *text);
        }
    }
    if (!m_view.rulerOn) {
        const QDateTime now = common::clockNow();
        setLabelText(Label2, 9, clockDate(now));
        setLabelText(Label2, 10, clockTime(now));
    }
}

void ssqx::Timer4_Timer() {
    if (m_print->tick(printRequest)) {
        Timer4.stop();
    }
}

void ssqx::Command1_Click() {
    closeDatabase();
    closeLocked = false;
    close();
    m_endProcess();
}

void ssqx::Command2_Click() {
    printRequest = true;
    if (!Timer4.isActive()) {
        Timer4.start();
    }
}

void ssqx::applyNavigation(const trend::NavigationRequests& requests) {
    if (requests.zoomInEnabled) {
        Command3->setEnabled(*requests.zoomInEnabled);
    }
    if (requests.zoomOutEnabled) {
        Command4->setEnabled(*requests.zoomOutEnabled);
    }
    if (requests.stepForwardEnabled) {
        Command7->setEnabled(*requests.stepForwardEnabled);
    }
    if (requests.stepBackEnabled) {
        Command8->setEnabled(*requests.stepBackEnabled);
    }
    if (requests.sliderStep) {
        hc->setSingleStep(*requests.sliderStep);
        hc->setPageStep(*requests.sliderStep);
    }
    if (requests.reload) {
        loadHistory();
    }
    if (requests.redraw) {
        redrawTrend();
    }
    if (requests.displayRunning) {
        if (*requests.displayRunning) {
            Timer1.start();
        } else {
            Timer1.stop();
        }
    }
}

void ssqx::Command3_Click() { applyNavigation(trend::zoomIn(m_view)); }

void ssqx::Command4_Click() { applyNavigation(trend::zoomOut(m_view)); }

void ssqx::Command5_Click() {
    if (!m_view.rulerOn) {
        hc->setValue(0);
        pt->setRuler(trend::rulerLineOn());
        hc->setEnabled(true);
        m_view.rulerOn = true;
        hc->setFocus();
        Timer1.stop();
        Command5->setText(QStringLiteral("F4 复原"));
        return;
    }
    hc->setValue(0);
    hc->setFocusPolicy(Qt::ClickFocus);
    pt->setRuler(trend::rulerLineOff());
    m_view.rulerOn = false;
    hc->setEnabled(false);
    Command5->setFocus();
    Command5->setText(QStringLiteral("F4 标尺"));
    Timer1.start();
    trend::returnToLive(m_view, [this] { return readNewestRecord(); });
    loadHistory();
    redrawTrend();
}

void ssqx::Command6_Click() {
    if (m_selection != nullptr) {
        m_selection->raise();
        m_selection->activateWindow();
        return;
    }
    m_log.ensureOpen();
    // An empty or missing log has no moment to offer.
    const auto span = trend::logSpan(m_log);
    if (!span) {
        return;
    }
    m_selection = new SelectionWindow(span->oldest, span->newest, this);
    m_selection->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_selection, &SelectionWindow::showRequested, this, &ssqx::jumpToMoment);
    connect(m_selection, &SelectionWindow::exportRequested, this, &ssqx::exportSpan);
    m_selection->open();
}

void ssqx::jumpToMoment(double moment) {
    m_log.ensureOpen();
    const auto nearest = trend::nearestSnapshot(m_log, moment);
    if (!nearest) {
        return;
    }
    trend::Jump jump =
        trend::jumpToRecord(m_view, nearest->record, [this] { return readNewestRecord(); });
    const std::int32_t length = m_view.windowLength;
    m_view.windowLength = jump.loadLength;
    loadHistory();
    m_view.windowLength = length;
    jump.requests.reload = false;
    applyNavigation(jump.requests);
    if (!m_view.rulerOn) {
        return;
    }
    if (const auto point = trend::pointNearest(m_trendBuffer, nearest->moment)) {
        const QSignalBlocker quiet(hc);
        hc->setValue(trend::rulerPositionOf(m_view, *point));
    }
    hc_Change();
}

void ssqx::exportSpan(double from, double to) {
    const QDateTime first = common::momentOf(from);
    const QDateTime last = common::momentOf(to);
    const QString suggested =
        QStringLiteral("vx310-%1.csv").arg(first.toString(u"yyyyMMdd-HHmmss"));
    const QString path = m_chooseExportFile ? m_chooseExportFile(suggested) : QString();
    if (path.isEmpty()) {
        return;
    }
    m_log.ensureOpen();
    QString error;
    const trend::FileExport outcome = trend::exportSnapshotsToFile(
        m_log.database(), first, last, path, {m_log.path()}, &error);
    if (outcome == trend::FileExport::Refused) {
        QMessageBox::warning(this, QStringLiteral("导出"),
                             QStringLiteral("所选文件是读数记录库或它的附属文件，不能用来导出。"
                                            "记录库保持原样。\n\n%1")
                                 .arg(path));
    } else if (outcome == trend::FileExport::Failed) {
        QMessageBox::warning(
            this, QStringLiteral("导出"),
            QStringLiteral("导出失败，原有文件保持原样。\n\n%1").arg(error));
    }
}

void ssqx::Command7_Click() {
    applyNavigation(trend::stepForward(m_view, [this] { return readNewestRecord(); }));
}

void ssqx::Command8_Click() { applyNavigation(trend::stepBack(m_view)); }

void ssqx::hc_Change() {
    if (!hc->isSliderDown()) {
        moveRuler(true);
        return;
    }
    // A thumb held at an end comes back to it at every tracking event: one step, on release.
    const int position = hc->value();
    m_thumbArrivedAtEnd = position == trend::kRulerLeftEnd || position == trend::kRulerRightEnd;
    moveRuler(false);
}

void ssqx::moveRuler(bool endSteps) {
    const int position = hc->value();
    switch (endSteps ? trend::rulerEndStep(m_view, position) : trend::RulerEndStep::None) {
    case trend::RulerEndStep::Back:
        Command8_Click();
        break;
    case trend::RulerEndStep::Forward:
        Command7_Click();
        break;
    case trend::RulerEndStep::None:
        break;
    }
    pt->setRuler(trend::rulerLineAt(position));
    const auto index = trend::rulerIndex(m_view, position);
    if (!index) {
        return;
    }
    const trend::RulerReadOut readOut = trend::rulerReadOut(m_trendBuffer, *index);
    if (readOut.date) {
        setLabelText(Label2, 9, *readOut.date);
    }
    if (readOut.time) {
        setLabelText(Label2, 10, *readOut.time);
    }
    setBackground(Label2.value(9, nullptr), trend::kRulerReadOutBackground);
    setBackground(Label2.value(10, nullptr), trend::kRulerReadOutBackground);
    for (int c = 0; c < trend::kDrawnChannels; ++c) {
        if (const auto& text = readOut.values[static_cast<std::size_t>(c)]) {
            setLabelText(D_3W, c, *text);
        }
        setBackground(D_3W.value(c, nullptr), trend::kRulerReadOutBackground);
    }
}

void ssqx::Command21_Click() {
    hide();
    auto* window = new config::CONFIG1(m_state, m_meter, this);
    window->show();
}

void ssqx::Command26_Click() {
    if (const auto fullScale = fullScaleFromEntry(YKD->text())) {
        m_state.yFullScale = *fullScale;
        showFullScaleEditor(false);
    }
}

void ssqx::Label5_DblClick() { showFullScaleEditor(true); }

void ssqx::D_2R_Click() {}

void ssqx::closeEvent(QCloseEvent* event) {
    // A refused close leaves the connection, the flag and the timers as they were.
    if (closeLocked) {
        event->ignore();
        return;
    }
    closeDatabase();
    m_state.mainWindowLoaded = false;
    event->accept();
}

bool ssqx::handleKey(int key) {
    switch (key) {
    case Qt::Key_F2:
        if (m_view.zoomLevel > 1) {
            Command3_Click();
        }
        return true;
    case Qt::Key_F1:
        if (m_view.zoomLevel < 4) {
            Command4_Click();
        }
        return true;
    case Qt::Key_F6:
        if (m_view.scrollSteps > 0) {
            Command7_Click();
        }
        return true;
    case Qt::Key_F7:
        if (!m_view.atOldest) {
            Command8_Click();
        }
        return true;
    case Qt::Key_F4:
        Command5_Click();
        return true;
    case Qt::Key_F3:
        Command2_Click();
        return true;
    case Qt::Key_Escape:
        Command1_Click();
        return true;
    case Qt::Key_F5:
        Command6_Click();
        return true;
    default:
        return false;
    }
}

void ssqx::keyPressEvent(QKeyEvent* event) {
    if (!handleKey(event->key())) {
        QWidget::keyPressEvent(event);
    }
}

bool ssqx::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::MouseButtonDblClick &&
        type != QEvent::MouseButtonRelease) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || (widget != this && !isAncestorOf(widget))) {
        return false;
    }
    if (event->type() == QEvent::KeyPress) {
        return handleKey(static_cast<QKeyEvent*>(event)->key());
    }
    if (event->type() == QEvent::MouseButtonDblClick) {
        for (int i = 0; i < 6; ++i) {
            if (watched == Label5.value(i, nullptr)) {
                Label5_DblClick();
                return true;
            }
        }
    }
    if (event->type() == QEvent::MouseButtonRelease &&
        (watched == D_2R.value(0, nullptr) || watched == D_2R.value(1, nullptr))) {
        D_2R_Click();
    }
    return false;
}

} // namespace monitor
