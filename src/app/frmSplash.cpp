#include "app/frmSplash.h"

#include "common/Twips.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>

namespace app {

using common::px;
using common::twipsRect;

frmSplash::frmSplash(std::function<void()> handOver)
    : QWidget(nullptr, Qt::FramelessWindowHint), m_handOver(std::move(handOver)),
      m_picture(QStringLiteral(":/splash.png")) {
    setObjectName(QStringLiteral("frmSplash"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(px(14985), px(5220));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);

    Label1 = new QLabel(QStringLiteral("系统正在初始化数据引擎，请稍后。。。。。。"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twipsRect(5610, 1680, 7005, 735));
    Label1->setFont(QFont(QStringLiteral("SimSun"), 15));
    Label1->setWordWrap(true);
    QPalette text = Label1->palette();
    text.setColor(QPalette::WindowText, Qt::white);
    Label1->setPalette(text);

    // The hand-over comes 1.5 s after the splash: coarse timers could drift by 5% a tick.
    Timer2.setTimerType(Qt::PreciseTimer);
    Timer1.setTimerType(Qt::PreciseTimer);
    Timer2.setInterval(kCountIntervalMs);
    Timer1.setInterval(kHandOverIntervalMs);
    connect(&Timer2, &QTimer::timeout, this, &frmSplash::Timer2_Timer);
    connect(&Timer1, &QTimer::timeout, this, &frmSplash::Timer1_Timer);
}

void frmSplash::Form_Load() { Timer2.start(); }

void frmSplash::Timer2_Timer() {
    ++tickCounter;
    if (tickCounter > kTicksBeforeHandOver) {
        Timer2.stop();
        tickCounter = 0;
        Timer1.start();
    }
}

void frmSplash::Timer1_Timer() {
    show();
    Timer2.stop();
    Timer1.stop();
    m_closing = true;
    close();
    if (m_handOver) {
        auto handOver = std::move(m_handOver);
        m_handOver = nullptr;
        handOver();
    }
}

void frmSplash::keyPressEvent(QKeyEvent* event) { event->accept(); }

void frmSplash::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!m_picture.isNull()) {
        painter.drawPixmap(rect(), m_picture);
    }
}

// Only the hand-over closes the splash: a close from the window manager would strand start-up.
void frmSplash::closeEvent(QCloseEvent* event) {
    if (!m_closing) {
        event->ignore();
        return;
    }
    Timer1.stop();
    event->accept();
}

} // namespace app
