// The configuration window against the real simulator over a pseudo-terminal, through the real
// library, with the acquisition cycle sharing the line as it does in the station.

#include "MeterParameters.h"
#include "SimProcess.h"
#include "config/CONFIG1.h"
#include "link/Met1.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using meterlink::kMeterAddress;
using meterlink::kPortNumber;
using vx310test::SimProcess;
using vx310test::TempDir;

namespace {

class ConfigurationWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim.ready());
        ASSERT_TRUE(meter.isLoaded());
        // What "打开" does: the choices into the store, the port open, the cycle running.
        state.store.PortSet.set(kPortNumber, 1);
        state.store.PortSet.set(kMeterAddress, 1);
        meter.OpenPort_Modbus(1, 1, 0);
        met1.Timer1().start();
        window = new config::CONFIG1(state, meter, &mainWindow);
        window->show();
    }

    void TearDown() override {
        met1.Timer1().stop();
        delete window.data();
        meter.ClosePort_Modbus(1);
    }

    QString shown(int index) { return window->D_4WRW.value(index, nullptr)->text(); }

    void write(int index, const QString& entry) {
        window->D_4wT.value(index, nullptr)->setText(entry);
        window->Command3.value(index, nullptr)->click();
    }

    int relay1() { return state.store.AlarmCoil.value(0); }

    TempDir dir;
    SimProcess sim{dir.path(), {}};
    meterlink::SharedState state;
    meterlink::MeterAccess meter;
    meterlink::Met1 met1{state, meter};
    QWidget mainWindow;
    QPointer<config::CONFIG1> window;
};

TEST_F(ConfigurationWindow, ShowsTheMetersParametersWithinTwoSecondsOfOpening) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown(27).isEmpty(); }, 2000));
    for (int i = 0; i < 28; ++i) {
        EXPECT_EQ(shown(i), QString::fromUtf8(
                                vx310test::kMeterParameterTexts.at(static_cast<std::size_t>(i))))
            << i;
    }
}

TEST_F(ConfigurationWindow, WritesAnAlarmPickUpThatTheMetersRelayFollows) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown(1) == QStringLiteral("390"); }, 2000));

    // Released at 0 and picked up at 1: the line voltage holds the relay on.
    write(2, QStringLiteral("0"));
    write(1, QStringLiteral("1"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return relay1() != 0 && shown(1) == QStringLiteral("1"); }, 2000))
        << "relay " << relay1() << ", field " << shown(1).toStdString();
    EXPECT_NE(meter.Get_0X_Bit1(1, 1, 1), 0);

    // Picked up and released at 9999: no line voltage gets there.
    write(2, QStringLiteral("9999"));
    write(1, QStringLiteral("9999"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return relay1() == 0 && shown(1) == QStringLiteral("9999"); }, 2000))
        << "relay " << relay1() << ", field " << shown(1).toStdString();
    EXPECT_EQ(meter.Get_0X_Bit1(1, 1, 1), 0);

    // An entry out of range never reaches the meter.
    write(1, QStringLiteral("9999.4"));
    std::int32_t registers[8] = {};
    meter.Get_4X_D8(1, 1, 1, registers);
    EXPECT_EQ(registers[1], 9999);
    EXPECT_EQ(registers[2], 9999);
}

TEST_F(ConfigurationWindow, ReturnsToTheMainWindowWhileAcquisitionGoesOn) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown(27).isEmpty(); }, 2000));
    mainWindow.hide();
    state.store.LiveVal.set(0, 0.0F);
    window->Command11->click();
    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 1000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return state.store.LiveVal.value(0) > 300.0F; }, 1000));
}

} // namespace
