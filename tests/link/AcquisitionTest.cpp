#include "FakeMeter.h"
#include "link/LinkPanel.h"
#include "link/Met1.h"

#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

#include <gtest/gtest.h>

using meterlink::kBaudChoice;
using meterlink::kMeterAddress;
using meterlink::kOpenResult;
using meterlink::kParityChoice;
using meterlink::kPortNumber;
using Calls = std::vector<std::string>;

namespace {

class MeterLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_reset();
        state.store.PortSet.set(kPortNumber, 1);
        state.store.PortSet.set(kMeterAddress, 1);
        met1.setYield([] { fake_note("yield"); });
    }

    void scriptReadings() {
        for (int i = 0; i < 16; ++i) {
            fake_set_input_float(1 + 2 * i, 100.0F + static_cast<float>(i));
        }
        fake_set_input_word(201, 310);
        fake_set_coil(1, 1);
        fake_set_coil(2, 0);
    }

    meterlink::SharedState state;
    meterlink::MeterAccess meter{QStringLiteral(FAKE_METER_LIBRARY)};
    meterlink::Met1 met1{state, meter};
};

TEST_F(MeterLinkTest, TickCallsTheLibraryInOrderAndYieldsBetweenCalls) {
    state.store.PortSet.set(kPortNumber, 3);
    state.store.PortSet.set(kMeterAddress, 7);
    met1.Timer1_Timer();
    EXPECT_EQ(fakeCalls(), (Calls{"Get_3X_DR8(3,7,1)", "yield", "Get_3X_DR8(3,7,17)", "yield",
                                  "Get_3X_D1(3,7,201)", "Get_0X_Bit1(3,7,1)", "yield",
                                  "Get_0X_Bit1(3,7,2)", "yield"}));
}

TEST_F(MeterLinkTest, TickFillsTheStoreFromTheMeter) {
    scriptReadings();
    met1.Timer1_Timer();
    const auto& store = state.store;
    for (int i = 0; i < 16; ++i) {
        EXPECT_FLOAT_EQ(store.MeterReg.value(i), 100.0F + static_cast<float>(i)) << i;
        EXPECT_FLOAT_EQ(store.LiveVal.value(i), 100.0F + static_cast<float>(i)) << i;
    }
    EXPECT_FLOAT_EQ(store.MeterReg.value(meterlink::kModelCodeSlot), 310.0F);
    EXPECT_EQ(store.AlarmCoil.value(0), 1);
    EXPECT_EQ(store.AlarmCoil.value(1), 0);
    for (int i = 16; i <= 25; ++i) {
        EXPECT_EQ(store.LiveVal.value(i), 0.0F) << i;
    }
}

TEST_F(MeterLinkTest, FailedReadsKeepTheLastReadingsAndShowAlarmsOff) {
    scriptReadings();
    met1.Timer1_Timer();
    fake_set_input_float(1, 999.0F);
    fake_set_reads_fail(1);
    met1.Timer1_Timer();
    EXPECT_FLOAT_EQ(state.store.LiveVal.value(0), 100.0F);
    EXPECT_FLOAT_EQ(state.store.LiveVal.value(15), 115.0F);
    EXPECT_EQ(state.store.AlarmCoil.value(0), 0);
}

TEST_F(MeterLinkTest, PortAndAddressAreReadAfreshForEveryCall) {
    int yields = 0;
    met1.setYield([&] {
        fake_note("yield");
        if (++yields == 1) {
            state.store.PortSet.set(kPortNumber, 4);
        }
    });
    met1.Timer1_Timer();
    const Calls calls = fakeCalls();
    EXPECT_EQ(calls[0], "Get_3X_DR8(1,1,1)");
    EXPECT_EQ(calls[2], "Get_3X_DR8(4,1,17)");
    EXPECT_EQ(calls[4], "Get_3X_D1(4,1,201)");
}

TEST_F(MeterLinkTest, ATickStartedDuringAYieldIsSkipped) {
    met1.setYield([&] {
        fake_note("yield");
        met1.Timer1_Timer();
    });
    met1.Timer1_Timer();
    EXPECT_EQ(fake_call_count(), 9);
    met1.Timer1_Timer();
    EXPECT_EQ(fake_call_count(), 18);
}

TEST_F(MeterLinkTest, AMissingLibraryFailsEveryCallQuietly) {
    meterlink::MeterAccess missing{QStringLiteral("/nonexistent/libmodbus485.so")};
    EXPECT_FALSE(missing.isLoaded());
    float floats[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::int32_t words[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(missing.Get_3X_DR8(1, 1, 1, floats), 0.0F);
    EXPECT_EQ(floats[0], 1.0F);
    EXPECT_EQ(missing.Get_4X_D8(1, 1, 1, words), -1);
    EXPECT_EQ(missing.OpenPort_Modbus(1, 1, 0), -1);
    EXPECT_EQ(missing.ClosePort_Modbus(1), -1);
    EXPECT_EQ(words[7], 9);
    EXPECT_EQ(missing.Get_3X_D1(1, 1, 201), 0);
    EXPECT_EQ(missing.Get_0X_Bit1(1, 1, 1), 0);
    EXPECT_EQ(missing.Set_4X_D1(1, 1, 13, 5), meterlink::MeterAccess::kWriteFailed);
    EXPECT_EQ(fake_call_count(), 0);
}

class LinkPanelTest : public MeterLinkTest {
  protected:
    void SetUp() override {
        MeterLinkTest::SetUp();
        state.store.PortSet.set(kPortNumber, 0);
        state.store.PortSet.set(kMeterAddress, 0);
        panel.setDefaults();
        panel.setConfigButton(&command21);
        panel.setAcquisition(&met1);
        command21.setEnabled(false);
    }

    int portSet(int slot) const { return state.store.PortSet.value(slot); }

    QWidget host;
    QPushButton command21;
    meterlink::LinkPanel panel{&host, state, meter};
};

TEST_F(LinkPanelTest, StartsOnPortOneAddressOne9600NoParity) {
    EXPECT_EQ(panel.Combo1->count(), 20);
    EXPECT_EQ(panel.Combo1->itemText(19), QStringLiteral("20 "));
    EXPECT_EQ(panel.Combo1->currentText(), QStringLiteral("1 "));
    EXPECT_EQ(panel.Combo2->count(), 16);
    EXPECT_EQ(panel.Combo2->currentText(), QStringLiteral("1 "));
    EXPECT_TRUE(panel.Option1[1]->isChecked());
    EXPECT_TRUE(panel.Option2[0]->isChecked());
}

TEST_F(LinkPanelTest, OpenCopiesTheChoicesOpensThePortAndStartsAcquisition) {
    fake_set_open_result(17);
    panel.Combo1->setEditText(QStringLiteral("3 "));
    panel.Combo2->setEditText(QStringLiteral("12 "));
    panel.Option1[2]->setChecked(true);
    panel.Option2[2]->setChecked(true);
    panel.Command9->click();
    EXPECT_EQ(fakeCalls(), (Calls{"OpenPort_Modbus(3,2,2)"}));
    EXPECT_EQ(portSet(kPortNumber), 3);
    EXPECT_EQ(portSet(kBaudChoice), 2);
    EXPECT_EQ(portSet(kParityChoice), 2);
    EXPECT_EQ(portSet(kMeterAddress), 12);
    EXPECT_EQ(portSet(kOpenResult), 17);
    EXPECT_TRUE(command21.isEnabled());
    EXPECT_TRUE(met1.Timer1().isActive());
    EXPECT_EQ(met1.Timer1().interval(), 500);
}

TEST_F(LinkPanelTest, CloseClosesTheOpenedPortStopsAcquisitionAndLocksConfiguration) {
    panel.Combo1->setEditText(QStringLiteral("5 "));
    panel.Command9->click();
    panel.Combo1->setEditText(QStringLiteral("9 "));
    panel.Command10->click();
    EXPECT_EQ(fakeCalls(), (Calls{"OpenPort_Modbus(5,1,0)", "ClosePort_Modbus(5)"}));
    EXPECT_FALSE(met1.Timer1().isActive());
    EXPECT_FALSE(command21.isEnabled());
    EXPECT_TRUE(panel.Command9->isEnabled());
    EXPECT_TRUE(panel.Command10->isEnabled());
}

TEST_F(LinkPanelTest, CloseBeforeAnyOpenClosesPortZero) {
    panel.Command10->click();
    EXPECT_EQ(fakeCalls(), (Calls{"ClosePort_Modbus(0)"}));
}

TEST_F(LinkPanelTest, ReopeningWhileOpenOpensAgainWithoutClosingAndKeepsTheCycle) {
    panel.Command9->click();
    met1.Timer1().setInterval(60000);
    met1.Timer1().start();
    const int remaining = met1.Timer1().remainingTime();
    panel.Option1[0]->setChecked(true);
    panel.Command9->click();
    EXPECT_EQ(fakeCalls(), (Calls{"OpenPort_Modbus(1,1,0)", "OpenPort_Modbus(1,0,0)"}));
    EXPECT_TRUE(met1.Timer1().isActive());
    EXPECT_LE(met1.Timer1().remainingTime(), remaining);
}

struct TypedNumber {
    const char* text;
    int expected;
};

class TypedPortAndAddress : public LinkPanelTest,
                            public ::testing::WithParamInterface<TypedNumber> {};

TEST_P(TypedPortAndAddress, ReadTheLeadingNumberRoundedHalfToEven) {
    const TypedNumber row = GetParam();
    panel.Combo1->setEditText(QString::fromUtf8(row.text));
    panel.Combo2->setEditText(QString::fromUtf8(row.text));
    panel.Command9->click();
    EXPECT_EQ(portSet(kPortNumber), row.expected);
    EXPECT_EQ(portSet(kMeterAddress), row.expected);
    const std::string open = "OpenPort_Modbus(" + std::to_string(row.expected) + ",1,0)";
    EXPECT_EQ(fakeCalls(), Calls{open});
}

INSTANTIATE_TEST_SUITE_P(Texts, TypedPortAndAddress,
                         ::testing::Values(TypedNumber{"12abc", 12}, TypedNumber{"abc", 0},
                                           TypedNumber{"", 0}, TypedNumber{" 7 ", 7},
                                           TypedNumber{"2.5", 2}, TypedNumber{"3.5", 4},
                                           TypedNumber{"&H10", 16}, TypedNumber{"-3", -3}));

TEST_F(LinkPanelTest, ANumberTooLargeForThePortLeavesTheLastPortInPlace) {
    panel.Combo1->setEditText(QStringLiteral("4"));
    panel.Command9->click();
    panel.Combo1->setEditText(QStringLiteral("1e999"));
    panel.Combo2->setEditText(QStringLiteral("99999999999"));
    panel.Command9->click();
    EXPECT_EQ(portSet(kPortNumber), 4);
    EXPECT_EQ(portSet(kMeterAddress), 1);
}

} // namespace
