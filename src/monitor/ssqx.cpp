#include "monitor/ssqx.h"

#include "common/DayNumber.h"
#include "common/NumberText.h"
#include "common/Twips.h"
#include "config/CONFIG1.h"
#include "link/LinkPanel.h"
#include "monitor/Controls.h"
#include "monitor/MainLayout.h"
#include "monitor/SpanExport.h"
#include "trend/HistoryQuery.h"
#include "trend/MomentSelection.h"
#include "trend/TrendSurface.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <cstdio>
#include <cstdlib>

namespace monitor {

namespace {
constexpr int kDisplayIntervalMs = 200;
constexpr int kRedrawIntervalMs = 1000;
constexpr int kClockIntervalMs = 1000;
constexpr int kPrintIntervalMs = 1000;
constexpr int kFirstRulerStep = 150;

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
    setFixedSize(common::px(mainWindowWidth()), common::px(mainWindowHeight()));

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
    Frame4 = makeFrame(this, "Frame4", QStringLiteral("真有效值测量"), readingsBand());
    setTextColour(Frame4, qRgb(0, 0, 255));
    for (const ReadingLayout& reading : kReadings) {
        QLabel* value = makeReadingLabel(Frame4, QStringLiteral("D_3W_%1").arg(reading.index),
                                         readingValue(reading));
        setTextColour(value, qRgb(0, 0, 0));
        D_3W.set(reading.index, value);
        auto* caption = makeLabel(Frame4, QStringLiteral("Label1_%1").arg(reading.captionIndex),
                                  QString::fromUtf8(reading.reading().caption),
                                  readingCaption(reading), Qt::AlignRight | Qt::AlignVCenter);
        setTextColour(caption, reading.captionColour);
        Label1.set(reading.captionIndex, caption);
    }
}

void ssqx::buildAxisColumn() {
    Frame2_0 = makeFrame(this, "Frame2_0", QString(), axisColumn());
    for (int i = 0; i < 6; ++i) {
        auto* label =
            makeLabel(Frame2_0, QStringLiteral("Label5_%1").arg(i), QString::number((i + 1) * 100),
                      axisLabel(i), Qt::AlignRight | Qt::AlignVCenter);
        setTextColour(label, qRgb(255, 0, 0));
        label->installEventFilter(this);
        Label5.set(i, label);
    }
    Label9 = makeLabel(Frame2_0, QStringLiteral("Label9"), QStringLiteral("Y刻度"),
                       fullScaleCaption());
    YKD = new QLineEdit(Frame2_0);
    YKD->setObjectName(QStringLiteral("YKD"));
    place(YKD, fullScaleEntry());
    Command26 =
        makeButton(Frame2_0, "Command26", QStringLiteral("修改Y刻度"), fullScaleButton());
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
    place(hc, rulerSlider());
    // Until the first zoom the arrow keys move the ruler by one point of the closest level.
    hc->setSingleStep(kFirstRulerStep);
    hc->setPageStep(kFirstRulerStep);
    connect(hc, &QSlider::valueChanged, this, &ssqx::hc_Change);
    connect(hc, &QSlider::sliderPressed, this, [this] { m_thumbArrivedAtEnd = false; });
    connect(hc, &QSlider::sliderReleased, this, [this] { moveRuler(m_thumbArrivedAtEnd); });

    for (int i = 0; i < trend::kTimeCaptions; ++i) {
        Label7.set(i, makeLabel(this, QStringLiteral("Label7_%1").arg(i),
                                QStringLiteral("2001/07/19"), timeCaptionDate(i), Qt::AlignCenter));
        Label4.set(i, makeLabel(this, QStringLiteral("Label4_%1").arg(i),
                                QStringLiteral("00:00:00"), timeCaptionTime(i), Qt::AlignCenter));
    }
}

void ssqx::buildFunctionColumn() {
    Frame3 = makeFrame(this, "Frame3", QStringLiteral("功能"), functionColumn());
    const struct {
        QPushButton*& button;
        const char* name;
        const char* caption;
        void (ssqx::*click)();
    } buttons[] = {{Command4, "Command4", "F1 缩小", &ssqx::Command4_Click},
                   {Command3, "Command3", "F2 放大", &ssqx::Command3_Click},
                   {Command2, "Command2", "F3 打印", &ssqx::Command2_Click},
                   {Command5, "Command5", trend::kRulerOffCaption, &ssqx::Command5_Click},
                   {Command6, "Command6", "F5 选择", &ssqx::Command6_Click},
                   {Command7, "Command7", "F6 左移", &ssqx::Command7_Click},
                   {Command8, "Command8", "F7 右移", &ssqx::Command8_Click}};
    int row = 0;
    for (const auto& b : buttons) {
        b.button = makeButton(Frame3, b.name, QString::fromUtf8(b.caption), functionButton(row++));
        connect(b.button, &QPushButton::clicked, this, b.click);
    }
}

void ssqx::buildCommandBar() {
    Frame1 = makeFrame(this, "Frame1", QString(), commandBar());
    Command21 = makeButton(Frame1, "Command21", QStringLiteral("参数设置"), configButton());
    Command21->setEnabled(false);
    Command1 = makeButton(Frame1, "Command1", QStringLiteral("退出"), exitButton());
    connect(Command21, &QPushButton::clicked, this, &ssqx::Command21_Click);
    connect(Command1, &QPushButton::clicked, this, &ssqx::Command1_Click);
}

void ssqx::buildStatusLabels() {
    const QFont arial(QStringLiteral("Arial"), 9);
    auto* date = makeLabel(this, QStringLiteral("Label2_9"), QStringLiteral("2001-03-12"),
                           clockDateField(), Qt::AlignCenter);
    auto* time = makeLabel(this, QStringLiteral("Label2_10"), QStringLiteral("18：42：00"),
                           clockTimeField(), Qt::AlignCenter);
    for (QLabel* label : {date, time}) {
        label->setFont(arial);
        setTextColour(label, qRgb(255, 0, 0));
        setBackground(label, kClockBackground);
    }
    Label2.set(9, date);
    Label2.set(10, time);

    m_modelCaption = makeLabel(this, QStringLiteral("modelCaption"), QStringLiteral("型号"),
                               modelCaption(), Qt::AlignRight | Qt::AlignVCenter);
    D_3W.set(25, makeReadingLabel(this, QStringLiteral("D_3W_25"), modelValue()));

    for (int i = 0; i < 2; ++i) {
        QLabel* alarm = makeValueLabel(this, QStringLiteral("D_2R_%1").arg(i), alarmField(i));
        setBackground(alarm, kAlarmOffBackground);
        alarm->installEventFilter(this);
        D_2R.set(i, alarm);
    }
    Label10 = makeLabel(this, QStringLiteral("Label10"), QStringLiteral("报警状态"),
                        alarmCaption(), Qt::AlignCenter);
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
    m_state.mainWindowLoaded = true;
    m_log.open();
    closeLocked = true;
    place(pt0, chartFrame());
    place(pt, chartSurface());
    applyNavigation(trend::viewAtLoad(m_view, m_trendBuffer, m_readNewest));
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
        colourReadOut(kClockBackground, kReadingBackground);
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
    trend::LivePoint point{{}, common::clockNow()};
    for (int c = 0; c < trend::kDrawnChannels; ++c) {
        point.values[static_cast<std::size_t>(c)] = m_state.store.LiveVal.get(c);
    }
    m_state.newRecordReady = false;
    applyNavigation(trend::extendLive(m_view, m_trendBuffer, point, m_readNewest));
}

void ssqx::loadHistory() {
    m_log.ensureOpen();
    const trend::ReadOut readOut = trend::loadHistory(m_log, m_trendBuffer, m_view);
    setLabelText(Label2, 9, readOut.date);
    setLabelText(Label2, 10, readOut.time);
}

void ssqx::redrawTrend() {
    trend::ChartPicture picture = trend::redrawSequence(m_trendBuffer, m_view, m_state.yFullScale);
    for (int i = 0; i < trend::kTimeCaptions; ++i) {
        setLabelText(Label7, i, picture.dates[static_cast<std::size_t>(i)]);
        setLabelText(Label4, i, picture.times[static_cast<std::size_t>(i)]);
    }
    pt->setLines(std::move(picture.lines));
}

void ssqx::Timer2_Timer() { redrawTrend(); }

void ssqx::Timer3_Timer() {
    if (const auto model = m_state.store.MeterReg.get(meterlink::kModelCodeSlot)) {
        setLabelText(D_3W, 25, common::generalForm(*model));
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
    if (requests.sliderValue) {
        hc->setValue(*requests.sliderValue);
    }
    if (requests.sliderOutOfTabOrder) {
        hc->setFocusPolicy(Qt::ClickFocus);
    }
    if (requests.rulerLine) {
        pt->setRuler(*requests.rulerLine);
    }
    if (requests.sliderEnabled) {
        hc->setEnabled(*requests.sliderEnabled);
    }
    if (requests.focus) {
        (*requests.focus == trend::RulerFocus::Slider ? static_cast<QWidget*>(hc) : Command5)
            ->setFocus();
    }
    if (requests.rulerCaption) {
        Command5->setText(*requests.rulerCaption);
    }
    const std::pair<QPushButton*, std::optional<bool>> buttons[] = {
        {Command3, requests.zoomInEnabled},
        {Command4, requests.zoomOutEnabled},
        {Command7, requests.stepForwardEnabled},
        {Command8, requests.stepBackEnabled}};
    for (const auto& [button, enabled] : buttons) {
        if (enabled) {
            button->setEnabled(*enabled);
        }
    }
    if (requests.sliderStep) {
        hc->setSingleStep(*requests.sliderStep);
        hc->setPageStep(*requests.sliderStep);
    }
    trend::reloadWindow(m_view, requests, [this] { loadHistory(); });
    if (requests.livePoint) {
        trend::setLivePoint(m_view, m_trendBuffer, *requests.livePoint);
    }
    if (requests.redraw) {
        redrawTrend();
    }
    if (requests.displayRunning) {
        *requests.displayRunning ? Timer1.start() : Timer1.stop();
    }
}

void ssqx::Command3_Click() { applyNavigation(trend::zoomIn(m_view)); }

void ssqx::Command4_Click() { applyNavigation(trend::zoomOut(m_view)); }

void ssqx::Command5_Click() { applyNavigation(trend::switchRuler(m_view, m_readNewest)); }

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
    applyNavigation(
        trend::jumpRequests(trend::jumpToRecord(m_view, nearest->record, m_readNewest)));
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
    monitor::exportSpan(this, m_log, from, to, m_chooseExportFile);
}

void ssqx::Command7_Click() { applyNavigation(trend::stepForward(m_view, m_readNewest)); }

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
    const auto step = endSteps ? trend::rulerEndStep(m_view, position) : trend::RulerEndStep::None;
    if (step == trend::RulerEndStep::Back) {
        Command8_Click();
    } else if (step == trend::RulerEndStep::Forward) {
        Command7_Click();
    }
    pt->setRuler(trend::rulerLineAt(position));
    const auto index = trend::rulerIndex(m_view, position);
    if (!index) {
        return;
    }
    const trend::RulerReadOut readOut = trend::rulerReadOut(m_trendBuffer, *index);
    setLabelText(Label2, 9, readOut.date);
    setLabelText(Label2, 10, readOut.time);
    for (int c = 0; c < trend::kDrawnChannels; ++c) {
        setLabelText(D_3W, c, readOut.values[static_cast<std::size_t>(c)]);
    }
    colourReadOut(trend::kRulerReadOutBackground, trend::kRulerReadOutBackground);
}

void ssqx::colourReadOut(common::Rgb dateAndTime, common::Rgb readings) {
    setBackground(Label2.value(9, nullptr), dateAndTime);
    setBackground(Label2.value(10, nullptr), dateAndTime);
    for (int i = 0; i < kRulerMarkedReadings; ++i) {
        setBackground(D_3W.value(i, nullptr), readings);
    }
}

void ssqx::Command21_Click() {
    hide();
    (new config::CONFIG1(m_state, m_meter, this))->show();
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
    // The keys bypass the buttons' enabled state; these conditions play that role.
    const struct {
        int key;
        bool allowed;
        void (ssqx::*action)();
    } keys[] = {{Qt::Key_F2, m_view.zoomLevel > 1, &ssqx::Command3_Click},
                {Qt::Key_F1, m_view.zoomLevel < 4, &ssqx::Command4_Click},
                {Qt::Key_F6, m_view.scrollSteps > 0, &ssqx::Command7_Click},
                {Qt::Key_F7, !m_view.atOldest, &ssqx::Command8_Click},
                {Qt::Key_F4, true, &ssqx::Command5_Click},
                {Qt::Key_F3, true, &ssqx::Command2_Click},
                {Qt::Key_Escape, true, &ssqx::Command1_Click},
                {Qt::Key_F5, true, &ssqx::Command6_Click}};
    for (const auto& binding : keys) {
        if (binding.key == key) {
            if (binding.allowed) {
                (this->*binding.action)();
            }
            return true;
        }
    }
    return false;
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
