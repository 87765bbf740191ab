#include "config/CONFIG1.h"

#include "common/Twips.h"

#include <QCloseEvent>
#include <QPushButton>

namespace config {

using common::twipsRect;

CONFIG1::CONFIG1(meterlink::SharedState& state, meterlink::MeterAccess& meter, QWidget* mainWindow)
    : QWidget(nullptr), m_state(state), m_meter(meter), m_mainWindow(mainWindow) {
    setObjectName(QStringLiteral("CONFIG1"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString());
    setFixedSize(common::px(11520), common::px(8640));

    Command11 = new QPushButton(QStringLiteral(" Esc 返回"), this);
    Command11->setObjectName(QStringLiteral("Command11"));
    Command11->setGeometry(twipsRect(4920, 7800, 1335, 495));
    Command11->setShortcut(Qt::Key_Escape);
    connect(Command11, &QPushButton::clicked, this, &CONFIG1::Command11_Click);
}

void CONFIG1::Command11_Click() { close(); }

void CONFIG1::closeEvent(QCloseEvent* event) {
    event->accept();
    if (m_mainWindow != nullptr) {
        m_mainWindow->show();
    }
}

} // namespace config
