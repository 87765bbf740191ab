#include "FakeMeter.h"
#include "MeterParameters.h"
#include "config/CONFIG1.h"
#include "config/ParameterMap.h"
#include "link/Met1.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

using config::CONFIG1;
using config::Kind;
using config::kParameters;
using config::Parameter;
using meterlink::kListParamValue;
using meterlink::kMeterAddress;
using meterlink::kPortNumber;
using meterlink::kTypedParamValue;
using Calls = std::vector<std::string>;

namespace {

/// Width of the part of a closed list that shows the chosen item's text.
int listTextWidth(const QComboBox& list) {
    QStyleOptionComboBox option;
    option.initFrom(&list);
    option.editable = list.isEditable();
    return list.style()
        ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &list)
        .width();
}

void deletePending() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

int visibleTopLevels() {
    int count = 0;
    for (const QWidget* top : QApplication::topLevelWidgets()) {
        count += top->isVisible() ? 1 : 0;
    }
    return count;
}

class ConfigWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_reset();
        state.store.PortSet.set(kPortNumber, 3);
        state.store.PortSet.set(kMeterAddress, 7);
        open();
    }

    void TearDown() override {
        delete window.data();
        deletePending();
    }

    void open() {
        window = new CONFIG1(state, meter, &mainWindow);
        window->setYield([] { fake_note("yield"); });
        window->show();
    }

    QLineEdit* field(int index) { return window->D_4WRW.value(index, nullptr); }
    QLineEdit* entry(int index) { return window->D_4wT.value(index, nullptr); }
    QString shown(int index) { return field(index)->text(); }

    /// Registers 1..28 as the simulated meter starts.
    void scriptMeter() {
        for (int r = 1; r <= 28; ++r) {
            fake_set_holding(r, vx310test::kMeterParameters.at(static_cast<std::size_t>(r - 1)));
        }
    }

    int readCalls() {
        int count = 0;
        for (const std::string& call : fakeCalls()) {
            count += call.rfind("Get_4X_D8", 0) == 0 ? 1 : 0;
        }
        return count;
    }

    meterlink::SharedState state;
    meterlink::MeterAccess meter{QStringLiteral(FAKE_METER_LIBRARY)};
    QWidget mainWindow;
    QPointer<CONFIG1> window;
};

TEST_F(ConfigWindowTest, HasNoTitleAndFourPagesInTabOrderOpeningOnInput) {
    EXPECT_TRUE(window->windowTitle().isEmpty());
    ASSERT_EQ(window->SSTab1->count(), 4);
    EXPECT_EQ(window->SSTab1->objectName(), QStringLiteral("SSTab1"));
    const QStringList titles = {QStringLiteral("继电器"), QStringLiteral("变送"),
                                QStringLiteral("输入"), QStringLiteral("通讯")};
    for (int page = 0; page < 4; ++page) {
        EXPECT_EQ(window->SSTab1->tabText(page), titles[page]);
    }
    EXPECT_EQ(window->SSTab1->currentIndex(), 2);
    EXPECT_EQ(window->Command11->text(), QStringLiteral(" Esc 返回"));
    EXPECT_EQ(window->Command11->objectName(), QStringLiteral("Command11"));
    EXPECT_GT(window->Command11->geometry().top(), window->SSTab1->geometry().bottom());
}

TEST_F(ConfigWindowTest, GivesEveryRowItsCaptionFieldEntryAndButtonOnItsPage) {
    for (const Parameter& p : kParameters) {
        SCOPED_TRACE(p.index);
        QWidget* page = window->SSTab1->widget(static_cast<int>(p.page));
        auto* caption = page->findChild<QLabel*>(QStringLiteral("Label1_%1").arg(p.captionIndex));
        auto* value = page->findChild<QLineEdit*>(QStringLiteral("D_4WRW_%1").arg(p.index));
        auto* button = page->findChild<QPushButton*>(QStringLiteral("Command3_%1").arg(p.index));
        const QString entryName = p.kind == Kind::List ? QString::fromLatin1(p.listName)
                                                       : QStringLiteral("D_4wT_%1").arg(p.index);
        QWidget* entryControl = page->findChild<QWidget*>(entryName);
        ASSERT_NE(caption, nullptr);
        ASSERT_NE(value, nullptr);
        ASSERT_NE(button, nullptr);
        ASSERT_NE(entryControl, nullptr);
        EXPECT_EQ(caption, window->Label1.value(p.captionIndex, nullptr));
        EXPECT_EQ(value, field(p.index));
        EXPECT_EQ(button, window->Command3.value(p.index, nullptr));
        EXPECT_EQ(caption->text(), QString::fromUtf8(p.caption));
        EXPECT_EQ(caption->font().family(), QStringLiteral("SimSun"));
        EXPECT_EQ(caption->font().pointSizeF(), 9.0);
        EXPECT_TRUE(value->isReadOnly());
        EXPECT_EQ(value->font().family(), QStringLiteral("SimSun"));
        EXPECT_EQ(value->font().pointSizeF(), 10.5);
        EXPECT_EQ(value->palette().color(QPalette::Base), QColor(Qt::white));
        EXPECT_EQ(button->text(), QStringLiteral("修改"));
        if (p.kind == Kind::List) {
            EXPECT_EQ(entryControl, window->listOf(p.index));
            EXPECT_FALSE(window->listOf(p.index)->isEditable());
            EXPECT_EQ(entry(p.index), nullptr);
        } else {
            EXPECT_EQ(entryControl, entry(p.index));
            EXPECT_EQ(window->listOf(p.index), nullptr);
        }
        EXPECT_LT(caption->geometry().right(), value->geometry().left());
        EXPECT_LT(value->geometry().right(), entryControl->geometry().left());
        EXPECT_LT(entryControl->geometry().right(), button->geometry().left());
        EXPECT_EQ(caption->geometry().top(), button->geometry().top());
    }
}

TEST_F(ConfigWindowTest, ShowsTheVoltageRatioRowDisabledAndEveryOtherRowEnabled) {
    for (const Parameter& p : kParameters) {
        const bool enabled = p.index != 6;
        QWidget* entryControl =
            p.kind == Kind::List ? static_cast<QWidget*>(window->listOf(p.index)) : entry(p.index);
        EXPECT_EQ(field(p.index)->isEnabled(), enabled) << p.index;
        EXPECT_EQ(entryControl->isEnabled(), enabled) << p.index;
        EXPECT_EQ(window->Command3.value(p.index, nullptr)->isEnabled(), enabled) << p.index;
        EXPECT_TRUE(window->Label1.value(p.captionIndex, nullptr)->isEnabled()) << p.index;
    }
}

TEST_F(ConfigWindowTest, FitsEveryTextInItsControlWithNothingOverlapping) {
    // The widest text each control can be given: captions, list and display texts, numbers.
    constexpr int kLineEditInnerMargins = 8;
    for (const Parameter& p : kParameters) {
        SCOPED_TRACE(p.index);
        QLabel* caption = window->Label1.value(p.captionIndex, nullptr);
        EXPECT_LE(caption->fontMetrics().horizontalAdvance(caption->text()), caption->width());
        QStringList shownTexts = {QStringLiteral("-32768")};
        if (p.kind == Kind::List) {
            QComboBox* list = window->listOf(p.index);
            for (const config::ChoiceItem& item : p.list->items) {
                shownTexts << QString::fromUtf8(item.displayText);
                const QString text = QString::fromUtf8(item.listText);
                EXPECT_LE(list->fontMetrics().horizontalAdvance(text.trimmed()),
                          listTextWidth(*list))
                    << text.toStdString();
            }
        }
        for (const QString& text : shownTexts) {
            EXPECT_LE(field(p.index)->fontMetrics().horizontalAdvance(text),
                      field(p.index)->width() - kLineEditInnerMargins)
                << text.toStdString();
        }
    }
    for (int page = 0; page < window->SSTab1->count(); ++page) {
        // A page is laid out when it comes to the front.
        window->SSTab1->setCurrentIndex(page);
        QWidget* widget = window->SSTab1->widget(page);
        const QList<QWidget*> controls =
            widget->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        for (qsizetype a = 0; a < controls.size(); ++a) {
            EXPECT_TRUE(widget->rect().contains(controls[a]->geometry()))
                << controls[a]->objectName().toStdString();
            for (qsizetype b = a + 1; b < controls.size(); ++b) {
                EXPECT_FALSE(controls[a]->geometry().intersects(controls[b]->geometry()))
                    << controls[a]->objectName().toStdString() << " and "
                    << controls[b]->objectName().toStdString();
            }
        }
    }
    EXPECT_TRUE(window->rect().contains(window->SSTab1->geometry()));
    EXPECT_TRUE(window->rect().contains(window->Command11->geometry()));
    EXPECT_LE(window->Command11->sizeHint().width(), window->Command11->width());
}

TEST_F(ConfigWindowTest, StartsEveryListOnItsFirstItemWithTheListTexts) {
    for (const Parameter& p : kParameters) {
        if (p.kind != Kind::List) {
            continue;
        }
        SCOPED_TRACE(p.index);
        QComboBox* list = window->listOf(p.index);
        ASSERT_EQ(list->count(), static_cast<int>(p.list->items.size()));
        for (int code = 0; code < list->count(); ++code) {
            EXPECT_EQ(list->itemText(code),
                      QString::fromUtf8(p.list->items[static_cast<std::size_t>(code)].listText));
        }
        EXPECT_EQ(list->currentIndex(), 0);
        EXPECT_EQ(list->currentText(), QString::fromUtf8(p.list->items[0].listText));
    }
    for (const Parameter& p : kParameters) {
        if (p.kind != Kind::List) {
            EXPECT_TRUE(entry(p.index)->text().isEmpty()) << p.index;
        }
    }
}

TEST_F(ConfigWindowTest, ReadsOnceASecondFromLoadAndShowsNothingBeforeTheFirstTick) {
    EXPECT_TRUE(window->Timer1.isActive());
    EXPECT_EQ(window->Timer1.interval(), 1000);
    EXPECT_EQ(fake_call_count(), 0);
    for (const Parameter& p : kParameters) {
        EXPECT_TRUE(shown(p.index).isEmpty()) << p.index;
    }
}

TEST_F(ConfigWindowTest, ReadsTheFourBlocksWithAYieldBetweenEachTwo) {
    window->Timer1_Timer();
    EXPECT_EQ(fakeCalls(), (Calls{"Get_4X_D8(3,7,1)", "yield", "Get_4X_D8(3,7,9)", "yield",
                                  "Get_4X_D8(3,7,17)", "yield", "Get_4X_D8(3,7,25)"}));
}

TEST_F(ConfigWindowTest, SetsTheFieldsOfABlockBeforeTheYieldAfterIt) {
    scriptMeter();
    std::vector<std::vector<bool>> filled;
    window->setYield([&] {
        std::vector<bool> now;
        for (int i = 0; i < 28; ++i) {
            now.push_back(!shown(i).isEmpty());
        }
        filled.push_back(now);
    });
    window->Timer1_Timer();
    ASSERT_EQ(filled.size(), 3U);
    for (std::size_t yield = 0; yield < 3; ++yield) {
        for (int i = 0; i < 28; ++i) {
            EXPECT_EQ(filled[yield][static_cast<std::size_t>(i)],
                      i < 8 * static_cast<int>(yield + 1))
                << "yield " << yield << " field " << i;
        }
    }
}

TEST_F(ConfigWindowTest, ShowsEachRegisterInItsParametersForm) {
    scriptMeter();
    fake_set_holding(29, 1234);
    window->Timer1_Timer();
    for (int i = 0; i < 28; ++i) {
        const auto at = static_cast<std::size_t>(i);
        EXPECT_EQ(shown(i), QString::fromUtf8(vx310test::kMeterParameterTexts.at(at))) << i;
        EXPECT_EQ(window->ParamReg.value(i), vx310test::kMeterParameters.at(at)) << i;
    }
    EXPECT_EQ(window->ParamReg.value(28), 1234);
    EXPECT_EQ(window->ParamReg.value(32), 0);
}

struct OutOfListRow {
    int reg;
    int value;
};

void PrintTo(const OutOfListRow& row, std::ostream* out) {
    *out << "register " << row.reg << " holding " << row.value;
}

class CodesOutsideTheList : public ConfigWindowTest,
                            public ::testing::WithParamInterface<OutOfListRow> {};

TEST_P(CodesOutsideTheList, LeaveTheFieldShowingItsPreviousText) {
    scriptMeter();
    window->Timer1_Timer();
    const int index = GetParam().reg - 1;
    const QString before = shown(index);
    fake_set_holding(GetParam().reg, GetParam().value);
    window->Timer1_Timer();
    EXPECT_EQ(window->ParamReg.value(index), GetParam().value);
    EXPECT_EQ(shown(index), before);
}

INSTANTIATE_TEST_SUITE_P(Codes, CodesOutsideTheList,
                         ::testing::Values(OutOfListRow{1, 16}, OutOfListRow{1, -1},
                                           OutOfListRow{4, 16}, OutOfListRow{10, 2},
                                           OutOfListRow{14, 3}, OutOfListRow{18, -1},
                                           OutOfListRow{9, 8}));

TEST_F(ConfigWindowTest, ShowsCodeZeroTextsAndZerosWhileTheMeterHasNeverAnswered) {
    fake_set_reads_fail(1);
    window->Timer1_Timer();
    EXPECT_EQ(shown(0), QStringLiteral("无报警"));
    EXPECT_EQ(shown(13), QStringLiteral("4800"));
    EXPECT_EQ(shown(14), QStringLiteral("无校验"));
    EXPECT_EQ(shown(16), QStringLiteral("无变送"));
    EXPECT_EQ(shown(1), QStringLiteral("0"));
    EXPECT_EQ(shown(11), QStringLiteral("0"));
}

TEST_F(ConfigWindowTest, KeepsTheLastValuesWhenTheMeterFallsSilent) {
    scriptMeter();
    window->Timer1_Timer();
    fake_set_holding(2, 111);
    fake_set_reads_fail(1);
    window->Timer1_Timer();
    EXPECT_EQ(shown(1), QStringLiteral("390"));
    EXPECT_EQ(shown(0), QStringLiteral("AB线电压报警"));
}

TEST_F(ConfigWindowTest, ReadsPortAndAddressAfreshForEveryBlock) {
    window->setYield([this] {
        fake_note("yield");
        state.store.PortSet.set(kPortNumber, 4);
    });
    window->Timer1_Timer();
    const Calls calls = fakeCalls();
    EXPECT_EQ(calls[0], "Get_4X_D8(3,7,1)");
    EXPECT_EQ(calls[2], "Get_4X_D8(4,7,9)");
}

TEST_F(ConfigWindowTest, SkipsATickThatWouldStartDuringAYield) {
    window->setYield([this] {
        fake_note("yield");
        window->Timer1_Timer();
    });
    window->Timer1_Timer();
    EXPECT_EQ(readCalls(), 4);
    window->Timer1_Timer();
    EXPECT_EQ(readCalls(), 8);
}

TEST_F(ConfigWindowTest, NeverTouchesTypedEntriesOrChosenLists) {
    scriptMeter();
    entry(1)->setText(QStringLiteral("12"));
    entry(12)->setText(QStringLiteral("abc"));
    window->listOf(0)->setCurrentIndex(3);
    window->listOf(9)->setCurrentIndex(1);
    for (int tick = 0; tick < 3; ++tick) {
        window->Timer1_Timer();
    }
    EXPECT_EQ(entry(1)->text(), QStringLiteral("12"));
    EXPECT_EQ(entry(12)->text(), QStringLiteral("abc"));
    EXPECT_EQ(window->listOf(0)->currentIndex(), 3);
    EXPECT_EQ(window->listOf(9)->currentIndex(), 1);
    EXPECT_TRUE(entry(2)->text().isEmpty());
    EXPECT_EQ(shown(1), QStringLiteral("390"));
}

struct WriteRow {
    int index;
    const char* entry;
    std::optional<std::int32_t> written;
};

void PrintTo(const WriteRow& row, std::ostream* out) {
    *out << "parameter " << row.index << " entry '" << row.entry << "'";
}

class TypedWrite : public ConfigWindowTest, public ::testing::WithParamInterface<WriteRow> {};

TEST_P(TypedWrite, WritesTheEntryOnlyWhenItIsInRange) {
    const WriteRow row = GetParam();
    state.store.PortSet.set(kTypedParamValue, -5);
    entry(row.index)->setText(QString::fromUtf8(row.entry));
    window->Command3_Click(static_cast<std::int16_t>(row.index));
    if (row.written) {
        EXPECT_EQ(fakeCalls(), Calls{"Set_4X_D1(3,7," + std::to_string(row.index + 1) + "," +
                                     std::to_string(*row.written) + ")"});
        EXPECT_EQ(state.store.PortSet.value(kTypedParamValue), *row.written);
    } else {
        EXPECT_EQ(fake_call_count(), 0);
        EXPECT_EQ(state.store.PortSet.value(kTypedParamValue), -5);
    }
    EXPECT_EQ(entry(row.index)->text(), QString::fromUtf8(row.entry));
    EXPECT_EQ(state.store.PortSet.value(kListParamValue), 0);
}

// Parsing and ranges are the parameter map's; these show the window writes what it returns.
INSTANTIATE_TEST_SUITE_P(Entries, TypedWrite,
                         ::testing::Values(WriteRow{12, "247", 247},
                                           WriteRow{12, "248", std::nullopt}, WriteRow{12, "", 0},
                                           WriteRow{19, "0", 0}, WriteRow{27, "0", std::nullopt},
                                           WriteRow{11, "0.7", 7}, WriteRow{1, "12abc", 12}));

TEST_F(ConfigWindowTest, WritesTheCodeLeadingTheTextOfAList) {
    window->listOf(0)->setCurrentIndex(5);
    window->Command3_Click(0);
    window->listOf(24)->setCurrentIndex(1);
    window->Command3_Click(24);
    EXPECT_EQ(fakeCalls(), (Calls{"Set_4X_D1(3,7,1,5)", "Set_4X_D1(3,7,25,1)"}));
    EXPECT_EQ(state.store.PortSet.value(kListParamValue), 1);
    EXPECT_EQ(state.store.PortSet.value(kTypedParamValue), 0);
}

TEST_F(ConfigWindowTest, TypedCodesNeverReachTheMeterFromAList) {
    // Register 14 is the baud rate: typing a code that is not in its list must not write it.
    constexpr int kBaudRate = 13;
    QComboBox* list = window->listOf(kBaudRate);
    for (const char* typed : {"99", "-1", "70000"}) {
        SCOPED_TRACE(typed);
        fake_reset();
        list->setFocus();
        QTest::keyClicks(list, QString::fromLatin1(typed));
        window->Command3_Click(kBaudRate);
        ASSERT_EQ(fake_call_count(), 1);
        const std::int32_t code = state.store.PortSet.value(kListParamValue);
        EXPECT_GE(code, 0);
        EXPECT_LT(code, list->count());
        EXPECT_EQ(list->currentText(), list->itemText(list->currentIndex()));
    }
}

TEST_F(ConfigWindowTest, WritesCodeZeroFromEveryListLeftOnItsFirstItem) {
    Calls expected;
    for (const Parameter& p : kParameters) {
        if (p.kind == Kind::List) {
            window->Command3.value(p.index, nullptr)->click();
            expected.push_back("Set_4X_D1(3,7," + std::to_string(p.index + 1) + ",0)");
        }
    }
    EXPECT_EQ(fakeCalls(), expected);
}

TEST_F(ConfigWindowTest, RepeatsAWriteRefusedOnceWithTheSameArguments) {
    fake_fail_writes(1);
    entry(1)->setText(QStringLiteral("395"));
    window->Command3.value(1, nullptr)->click();
    EXPECT_EQ(fakeCalls(), (Calls{"Set_4X_D1(3,7,2,395)", "Set_4X_D1(3,7,2,395)"}));
    EXPECT_EQ(fake_holding(2), 395);
}

TEST_F(ConfigWindowTest, GivesUpQuietlyOnAWriteRefusedTwice) {
    scriptMeter();
    window->Timer1_Timer();
    const int windows = visibleTopLevels();
    fake_reset();
    scriptMeter();
    fake_fail_writes(2);
    entry(1)->setText(QStringLiteral("395"));
    window->Command3.value(1, nullptr)->click();
    EXPECT_EQ(fakeCalls(), (Calls{"Set_4X_D1(3,7,2,395)", "Set_4X_D1(3,7,2,395)"}));
    window->Timer1_Timer();
    EXPECT_EQ(shown(1), QStringLiteral("390"));
    EXPECT_EQ(visibleTopLevels(), windows);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(ConfigWindowTest, WritesNothingForAnIndexOutsideTheParameters) {
    for (const std::int16_t index : {std::int16_t{-1}, std::int16_t{28}, std::int16_t{32767}}) {
        window->Command3_Click(index);
    }
    EXPECT_EQ(fake_call_count(), 0);
}

TEST_F(ConfigWindowTest, AWriteDuringAYieldFallsBetweenTwoBlocksAndShowsOnTheNextTick) {
    scriptMeter();
    entry(2)->setText(QStringLiteral("380"));
    int yields = 0;
    window->setYield([&] {
        fake_note("yield");
        if (++yields == 1) {
            window->Command3.value(2, nullptr)->click();
        }
    });
    window->Timer1_Timer();
    const Calls calls = fakeCalls();
    ASSERT_GE(calls.size(), 4U);
    EXPECT_EQ(calls[2], "Set_4X_D1(3,7,3,380)");
    EXPECT_EQ(calls[3], "Get_4X_D8(3,7,9)");
    EXPECT_EQ(shown(2), QStringLiteral("385"));
    window->Timer1_Timer();
    EXPECT_EQ(shown(2), QStringLiteral("380"));
}

TEST_F(ConfigWindowTest, ReturnUnloadsTheWindowAndShowsTheMainWindow) {
    mainWindow.hide();
    window->Command11->click();
    EXPECT_TRUE(mainWindow.isVisible());
    ASSERT_FALSE(window.isNull());
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->Timer1.isActive());
    deletePending();
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(fake_call_count(), 0);
}

TEST_F(ConfigWindowTest, ClosingByTheFrameReturnsLikeEsc) {
    mainWindow.hide();
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(mainWindow.isVisible());
    deletePending();
    EXPECT_TRUE(window.isNull());
}

TEST_F(ConfigWindowTest, TheEscKeyReturnsFromAnEntryBox) {
    mainWindow.hide();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.data()));
    window->SSTab1->setCurrentIndex(0);
    entry(1)->setFocus();
    QTest::keyClick(entry(1), Qt::Key_Escape);
    // A shortcut presses its button the way a click does, released a moment later.
    EXPECT_TRUE(QTest::qWaitFor([this] { return window.isNull(); }, 2000));
    EXPECT_TRUE(mainWindow.isVisible());
}

TEST_F(ConfigWindowTest, ANewOpeningStartsAfresh) {
    scriptMeter();
    window->Timer1_Timer();
    entry(1)->setText(QStringLiteral("12"));
    window->listOf(0)->setCurrentIndex(3);
    window->Command11_Click();
    deletePending();
    ASSERT_TRUE(window.isNull());
    open();
    EXPECT_TRUE(shown(0).isEmpty());
    EXPECT_TRUE(entry(1)->text().isEmpty());
    EXPECT_EQ(window->listOf(0)->currentIndex(), 0);
    EXPECT_EQ(window->listOf(0)->count(), 16);
    EXPECT_EQ(window->ParamReg.value(1), 0);
    EXPECT_EQ(window->SSTab1->currentIndex(), 2);
}

enum class Leave { Esc, FrameClose };

struct UnloadRow {
    int atYield;
    Leave how;
};

void PrintTo(const UnloadRow& row, std::ostream* out) {
    *out << (row.how == Leave::Esc ? "Esc" : "frame close") << " at yield " << row.atYield;
}

void leave(CONFIG1* window, Leave how) {
    if (how == Leave::Esc) {
        window->Command11->click();
    } else {
        window->close();
    }
}

class UnloadDuringAReadYield : public ConfigWindowTest,
                               public ::testing::WithParamInterface<UnloadRow> {};

TEST_P(UnloadDuringAReadYield, StopsTheTickAndDeletesTheWindowOnlyAfterIt) {
    const UnloadRow row = GetParam();
    scriptMeter();
    mainWindow.hide();
    int yields = 0;
    bool aliveAfterLeaving = false;
    window->setYield([&] {
        fake_note("yield");
        if (++yields == row.atYield) {
            leave(window, row.how);
            // Whatever deletions the event loop would run here must not take the window.
            deletePending();
            aliveAfterLeaving = !window.isNull();
        }
    });
    window->Timer1_Timer();
    EXPECT_TRUE(aliveAfterLeaving);
    EXPECT_EQ(yields, row.atYield);
    EXPECT_EQ(readCalls(), row.atYield);
    EXPECT_TRUE(mainWindow.isVisible());
    deletePending();
    EXPECT_TRUE(window.isNull());
}

INSTANTIATE_TEST_SUITE_P(Yields, UnloadDuringAReadYield,
                         ::testing::Values(UnloadRow{1, Leave::Esc}, UnloadRow{2, Leave::Esc},
                                           UnloadRow{3, Leave::Esc},
                                           UnloadRow{1, Leave::FrameClose},
                                           UnloadRow{2, Leave::FrameClose},
                                           UnloadRow{3, Leave::FrameClose}));

struct NestedRow {
    int readYield;
    int acquisitionYield;
};

void PrintTo(const NestedRow& row, std::ostream* out) {
    *out << "acquisition yield " << row.acquisitionYield << " inside read yield " << row.readYield;
}

class UnloadDuringAnAcquisitionYieldInsideAReadYield
    : public ConfigWindowTest,
      public ::testing::WithParamInterface<NestedRow> {};

TEST_P(UnloadDuringAnAcquisitionYieldInsideAReadYield, LetsTheAcquisitionFinishAndStopsTheRead) {
    const NestedRow row = GetParam();
    meterlink::Met1 met1(state, meter);
    int readYields = 0;
    int acquisitionYields = 0;
    bool aliveAfterLeaving = false;
    met1.setYield([&] {
        fake_note("met1 yield");
        if (++acquisitionYields == row.acquisitionYield) {
            window->Command11->click();
            deletePending();
            aliveAfterLeaving = !window.isNull();
        }
    });
    window->setYield([&] {
        fake_note("yield");
        if (++readYields == row.readYield) {
            met1.Timer1_Timer();
        }
    });
    window->Timer1_Timer();
    EXPECT_TRUE(aliveAfterLeaving);
    const Calls calls = fakeCalls();
    Calls expected;
    for (int block = 0; block < row.readYield; ++block) {
        if (block > 0) {
            expected.emplace_back("yield");
        }
        expected.push_back("Get_4X_D8(3,7," + std::to_string(block * 8 + 1) + ")");
    }
    const Calls acquisition = {"yield",
                               "Get_3X_DR8(3,7,1)",
                               "met1 yield",
                               "Get_3X_DR8(3,7,17)",
                               "met1 yield",
                               "Get_3X_D1(3,7,201)",
                               "Get_0X_Bit1(3,7,1)",
                               "met1 yield",
                               "Get_0X_Bit1(3,7,2)",
                               "met1 yield"};
    expected.insert(expected.end(), acquisition.begin(), acquisition.end());
    EXPECT_EQ(calls, expected);
    deletePending();
    EXPECT_TRUE(window.isNull());
}

INSTANTIATE_TEST_SUITE_P(Yields, UnloadDuringAnAcquisitionYieldInsideAReadYield,
                         ::testing::Values(NestedRow{1, 1}, NestedRow{2, 2}, NestedRow{3, 4},
                                           NestedRow{1, 4}, NestedRow{3, 1}));

TEST_F(ConfigWindowTest, DeletedDuringAYieldItsTickStopsWithoutTouchingIt) {
    window->setYield([this] {
        fake_note("yield");
        delete window.data();
    });
    window->Timer1_Timer();
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(fakeCalls(), (Calls{"Get_4X_D8(3,7,1)", "yield"}));
}

TEST_F(ConfigWindowTest, WritesNothingOnceUnloaded) {
    entry(1)->setText(QStringLiteral("5"));
    window->Command11_Click();
    window->Command3_Click(1);
    window->Timer1_Timer();
    EXPECT_EQ(fake_call_count(), 0);
}

} // namespace
