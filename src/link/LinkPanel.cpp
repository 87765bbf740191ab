#include "link/LinkPanel.h"

#include "common/NumberText.h"
#include "common/Twips.h"
#include "link/Met1.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace meterlink {

using common::twipsRect;

namespace {
constexpr int kPortEntries = 20;
constexpr int kAddressEntries = 16;
constexpr int kDefaultBaud = 1;
constexpr int kDefaultParity = 0;

QComboBox* makeList(QWidget* parent, const char* name) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setEditable(true);
    list->setInsertPolicy(QComboBox::NoInsert);
    return list;
}

QGroupBox* makeFrame(QWidget* parent, const char* name, const QString& caption, QRect where) {
    auto* frame = new QGroupBox(caption, parent);
    frame->setObjectName(QString::fromLatin1(name));
    frame->setGeometry(where);
    return frame;
}

void fillNumbered(QComboBox* list, int count) {
    list->clear();
    for (int i = 1; i <= count; ++i) {
        list->addItem(QString::number(i) + QLatin1Char(' '));
    }
    list->setCurrentIndex(0);
}
} // namespace

LinkPanel::LinkPanel(QWidget* host, SharedState& state, MeterAccess& meter)
    : QObject(host), m_state(state), m_meter(meter) {
    Frame6 = makeFrame(host, "Frame6", QStringLiteral("通讯端口选择"), twipsRect(60, 0, 1950, 615));
    Label1[0] = new QLabel(QStringLiteral("通讯端口"), Frame6);
    Label1[0]->setObjectName(QStringLiteral("Label1_0"));
    Label1[0]->setGeometry(twipsRect(90, 270, 780, 270));
    Combo1 = makeList(Frame6, "Combo1");
    Combo1->setGeometry(twipsRect(870, 225, 990, 330));

    Frame5[0] =
        makeFrame(host, "Frame5_0", QStringLiteral("模块地址"), twipsRect(2070, 0, 1950, 615));
    Label1[1] = new QLabel(QStringLiteral("模块地址"), Frame5[0]);
    Label1[1]->setObjectName(QStringLiteral("Label1_1"));
    Label1[1]->setGeometry(twipsRect(90, 270, 780, 270));
    Combo2 = makeList(Frame5[0], "Combo2");
    Combo2->setGeometry(twipsRect(870, 225, 990, 330));

    Frame2_1 = makeFrame(host, "Frame2_1", QStringLiteral("波特率"), twipsRect(4080, 0, 3000, 615));
    auto* baudGroup = new QButtonGroup(this);
    const QString bauds[] = {QStringLiteral("4800"), QStringLiteral("9600"),
                             QStringLiteral("19200")};
    for (int i = 0; i < 3; ++i) {
        Option1[i] = new QRadioButton(bauds[i], Frame2_1);
        Option1[i]->setObjectName(QStringLiteral("Option1_%1").arg(i));
        Option1[i]->setGeometry(twipsRect(120 + i * 930, 255, 900, 300));
        baudGroup->addButton(Option1[i], i);
    }

    Frame5[1] =
        makeFrame(host, "Frame5_1", QStringLiteral("校验方式"), twipsRect(7140, 0, 3270, 615));
    auto* parityGroup = new QButtonGroup(this);
    const QString parities[] = {QStringLiteral("无校验"), QStringLiteral("奇校验"),
                                QStringLiteral("偶校验")};
    for (int i = 0; i < 3; ++i) {
        Option2[i] = new QRadioButton(parities[i], Frame5[1]);
        Option2[i]->setObjectName(QStringLiteral("Option2_%1").arg(i));
        Option2[i]->setGeometry(twipsRect(120 + i * 1035, 255, 1020, 300));
        parityGroup->addButton(Option2[i], i);
    }

    Command9 = new QPushButton(QStringLiteral("打开"), host);
    Command9->setObjectName(QStringLiteral("Command9"));
    Command9->setGeometry(twipsRect(10500, 150, 960, 390));
    Command10 = new QPushButton(QStringLiteral("关闭"), host);
    Command10->setObjectName(QStringLiteral("Command10"));
    Command10->setGeometry(twipsRect(11520, 150, 960, 390));

    connect(Command9, &QPushButton::clicked, this, &LinkPanel::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &LinkPanel::Command10_Click);
}

void LinkPanel::setDefaults() {
    fillNumbered(Combo1, kPortEntries);
    Option1[kDefaultBaud]->setChecked(true);
    Option2[kDefaultParity]->setChecked(true);
    fillNumbered(Combo2, kAddressEntries);
}

void LinkPanel::copyListNumber(const QComboBox* list, int slot) {
    const auto number = common::readNumber(list->currentText());
    if (!number) {
        return;
    }
    if (const auto whole = common::roundToInt32(*number)) {
        m_state.store.PortSet.set(slot, *whole);
    }
}

void LinkPanel::Command9_Click() {
    auto& portSet = m_state.store.PortSet;
    copyListNumber(Combo1, kPortNumber);
    for (int i = 0; i < 3; ++i) {
        if (Option1[i]->isChecked()) {
            portSet.set(kBaudChoice, i);
        }
    }
    for (int i = 0; i < 3; ++i) {
        if (Option2[i]->isChecked()) {
            portSet.set(kParityChoice, i);
        }
    }
    copyListNumber(Combo2, kMeterAddress);
    portSet.set(kOpenResult,
                m_meter.OpenPort_Modbus(portSet.value(kPortNumber), portSet.value(kBaudChoice),
                                        portSet.value(kParityChoice)));
    if (m_command21 != nullptr) {
        m_command21->setEnabled(true);
    }
    // Enabling a running timer leaves its rhythm alone, as reopening must.
    if (m_met1 != nullptr && !m_met1->Timer1().isActive()) {
        m_met1->Timer1().start();
    }
}

void LinkPanel::Command10_Click() {
    m_meter.ClosePort_Modbus(m_state.store.PortSet.value(kPortNumber));
    if (m_met1 != nullptr) {
        m_met1->Timer1().stop();
    }
    if (m_command21 != nullptr) {
        m_command21->setEnabled(false);
    }
}

} // namespace meterlink
