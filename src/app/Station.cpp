#include "app/Station.h"

#include "app/frmSplash.h"
#include "link/Met1.h"
#include "monitor/ssqx.h"
#include "trend/mscom.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

namespace app {

namespace {
void centreOnScreen(QWidget* window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}
} // namespace

Station::Station() : m_meter(std::make_unique<meterlink::MeterAccess>()) {}

Station::Station(const QString& meterLibrary)
    : m_meter(std::make_unique<meterlink::MeterAccess>(meterLibrary)) {}

Station::~Station() {
    if (m_splash != nullptr) {
        delete m_splash;
    }
}

void Station::start() {
    m_splash = new frmSplash([this] { handOver(); });
    QObject::connect(m_splash, &QObject::destroyed, [this] { m_splash = nullptr; });
    centreOnScreen(m_splash);
    m_splash->show();
    m_splash->Form_Load();
}

void Station::bringToFront() {
    QWidget* window = QApplication::activeModalWidget();
    if (window == nullptr && m_main && m_main->isVisible()) {
        window = m_main.get();
    }
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (auto it = windows.begin(); window == nullptr && it != windows.end(); ++it) {
        if ((*it)->isVisible()) {
            window = *it;
        }
    }
    if (window == nullptr) {
        return;
    }
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}

void Station::handOver() {
    m_main = std::make_unique<monitor::ssqx>(m_state, *m_meter);
    if (m_endProcess) {
        m_main->setEndProcess(m_endProcess);
    }
    m_main->Form_Load();
    centreOnScreen(m_main.get());
    m_main->show();
    m_met1 = std::make_unique<meterlink::Met1>(m_state, *m_meter);
    m_main->setAcquisition(m_met1.get());
    m_mscom = std::make_unique<trend::mscom>(m_state);
}

} // namespace app
