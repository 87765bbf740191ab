#include "link/Met1.h"

#include <QCoreApplication>

namespace meterlink {

namespace {
constexpr int kFloatsPerBlock = 8;
constexpr int kModelCodeRegister = 201;
constexpr int kAlarmCount = 2;
} // namespace

Met1::Met1(SharedState& state, MeterAccess& meter, QObject* parent)
    : QObject(parent), m_state(state), m_meter(meter),
      m_yield([] { QCoreApplication::processEvents(); }) {
    setObjectName(QStringLiteral("Met1"));
    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer1.setInterval(kIntervalMs);
    connect(&m_timer1, &QTimer::timeout, this, &Met1::Timer1_Timer);
}

void Met1::readFloatBlock(int firstRegister, int firstSlot) {
    auto& store = m_state.store;
    if (float* dest = store.MeterReg.span(firstSlot, kFloatsPerBlock)) {
        m_meter.Get_3X_DR8(store.PortSet.value(kPortNumber), store.PortSet.value(kMeterAddress),
                           firstRegister, dest);
    }
    for (int i = firstSlot; i < firstSlot + kFloatsPerBlock; ++i) {
        if (auto reading = store.MeterReg.get(i)) {
            store.LiveVal.set(i, *reading);
        }
    }
}

void Met1::Timer1_Timer() {
    m_tickGuard.run([this] { acquire(); });
}

void Met1::acquire() {
    auto& store = m_state.store;
    // Port and address are read afresh for every call: "关闭" may run during a yield.
    const auto port = [&store] { return store.PortSet.value(kPortNumber); };
    const auto address = [&store] { return store.PortSet.value(kMeterAddress); };

    readFloatBlock(1, 0);
    m_yield();
    readFloatBlock(17, 8);
    m_yield();
    store.MeterReg.set(kModelCodeSlot, static_cast<float>(m_meter.Get_3X_D1(port(), address(),
                                                                            kModelCodeRegister)));
    for (int i = 0; i < kAlarmCount; ++i) {
        store.AlarmCoil.set(i, m_meter.Get_0X_Bit1(port(), address(), i + 1));
        m_yield();
    }
}

} // namespace meterlink
