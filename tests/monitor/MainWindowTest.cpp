#include "FakeMeter.h"
#include "TestData.h"
#include "link/LinkPanel.h"
#include "link/Met1.h"
#include "monitor/ssqx.h"

#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using monitor::ssqx;

namespace {

QRgb background(const QWidget* widget) { return widget->palette().color(QPalette::Window).rgb(); }

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { fake_reset(); }

    /// Loads the main window the way start-up does, with "退出" recorded instead of ending.
    void load() {
        window = std::make_unique<ssqx>(state, meter);
        window->setEndProcess([this] { ++endProcessCalls; });
        window->Form_Load();
        window->show();
    }

    QString text(int index) { return window->D_3W.value(index, nullptr)->text(); }

    TestData data;
    meterlink::SharedState state;
    meterlink::MeterAccess meter{QStringLiteral(FAKE_METER_LIBRARY)};
    std::unique_ptr<ssqx> window;
    int endProcessCalls = 0;
};

TEST_F(MainWindowTest, LoadSetsDefaultsAndStartsItsTimers) {
    load();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("VX310 三相多功能表"));
    EXPECT_EQ(state.yFullScale, 6000);
    EXPECT_TRUE(state.mainWindowLoaded);
    EXPECT_TRUE(window->closeLocked);
    EXPECT_EQ(window->hc->value(), 0);
    EXPECT_EQ(window->hc->minimum(), -1);
    EXPECT_EQ(window->hc->maximum(), 12001);
    EXPECT_EQ(window->hc->focusPolicy(), Qt::ClickFocus);
    EXPECT_EQ(window->m_view.viewEnd, 241);
    // What the load asks of each control, carried out on that control and no other.
    const std::pair<QWidget*, bool> enabled[] = {
        {window->hc, false},        {window->Command3, false}, {window->Command7, false},
        {window->Command21, false}, {window->Command2, true},  {window->Command4, true},
        {window->Command5, true},   {window->Command6, true},  {window->Command8, true}};
    for (const auto& [control, on] : enabled) {
        EXPECT_EQ(control->isEnabled(), on) << control->objectName().toStdString();
    }
    for (const QWidget* editor :
         {static_cast<QWidget*>(window->Label9), static_cast<QWidget*>(window->YKD),
          static_cast<QWidget*>(window->Command26)}) {
        EXPECT_FALSE(editor->isVisible()) << editor->objectName().toStdString();
    }
    // Timer1 to Timer3 run from the load on; nothing starts the print timer Timer4.
    const QTimer* timers[] = {&window->Timer1, &window->Timer2, &window->Timer3, &window->Timer4};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(timers[i]->isActive(), i < 3) << "Timer" << i + 1;
    }
    EXPECT_EQ(window->Timer1.interval(), 200);
}

TEST_F(MainWindowTest, LoadWithoutAReadingLogStartsEmptyAndNeverCreatesTheFile) {
    load();
    EXPECT_EQ(window->m_view.newestRecord, 0);
    EXPECT_EQ(window->m_view.windowEnd, 0);
    EXPECT_FALSE(QFile::exists(data.readingLog()));
}

TEST_F(MainWindowTest, LoadTakesTheNewestRecordFromTheControlRow) {
    ASSERT_TRUE(data.createReadingLog());
    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
        db.setDatabaseName(data.readingLog());
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec(
            QStringLiteral("update sl_void set last_id = 1234, last_id_copy = 1234"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("setup"));
    load();
    EXPECT_EQ(window->m_view.newestRecord, 1234);
    EXPECT_EQ(window->m_view.windowEnd, 1234);
}

TEST_F(MainWindowTest, BeforeTheLinkOpensEveryReadingIsZeroAndBothAlarmsOff) {
    load();
    window->Timer1_Timer();
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(text(i), QStringLiteral("0000.0000")) << i;
    }
    EXPECT_EQ(text(14), QStringLiteral("0"));
    EXPECT_EQ(text(15), QStringLiteral("0"));
    EXPECT_EQ(window->D_2R.value(0, nullptr)->text(), QStringLiteral("报警一OFF"));
    EXPECT_EQ(window->D_2R.value(1, nullptr)->text(), QStringLiteral("报警二OFF"));
}

TEST_F(MainWindowTest, ReadingsShowInFixedAndGeneralForms) {
    load();
    window->Timer1_Timer();
    auto& live = state.store.LiveVal;
    live.set(0, 220.5F);
    live.set(3, 12345.5F);
    live.set(11, -1.25F);
    live.set(13, 10000.0F);
    live.set(14, 12345678.0F);
    live.set(15, 0.00001F);
    window->Timer1_Timer();
    live.set(10, std::numeric_limits<float>::quiet_NaN());
    live.set(14, std::numeric_limits<float>::infinity());
    window->Timer1_Timer();
    EXPECT_EQ(text(0), QStringLiteral("0220.5000"));
    EXPECT_EQ(text(3), QStringLiteral("12345.5000"));
    EXPECT_EQ(text(11), QStringLiteral("-0001.2500"));
    EXPECT_EQ(text(13), QStringLiteral("10000.0000"));
    EXPECT_EQ(text(15), QStringLiteral("1E-05"));
    // A reading that is not a number shows nothing, not the last value that was one.
    EXPECT_EQ(text(10), QString());
    EXPECT_EQ(text(14), QString());
}

TEST_F(MainWindowTest, AReadingThatIsNoNumberIsNamedEmptyNeverByItsFramesTitle) {
    load();
    const auto name = [&](int index) {
        return QAccessible::queryAccessibleInterface(window->D_3W.value(index, nullptr))
            ->text(QAccessible::Name)
            .toStdString();
    };
    auto& live = state.store.LiveVal;
    for (int i = 0; i < 16; ++i) {
        live.set(i, std::numeric_limits<float>::quiet_NaN());
    }
    window->Timer1_Timer();
    for (int i = 0; i < 16; ++i) {
        ASSERT_EQ(text(i), QString()) << i;
        EXPECT_EQ(name(i), "") << i;
    }
    window->D_3W.value(0, nullptr)->setText(QStringLiteral("220.1"));
    EXPECT_EQ(name(0), "220.1");
    live.set(15, 0.00001F);
    window->Timer1_Timer();
    EXPECT_EQ(name(15), "1E-05");
}

TEST_F(MainWindowTest, AlarmLabelsFollowTheRelays) {
    load();
    state.store.AlarmCoil.set(0, 1);
    window->Timer1_Timer();
    const QLabel* alarm1 = window->D_2R.value(0, nullptr);
    const QLabel* alarm2 = window->D_2R.value(1, nullptr);
    EXPECT_EQ(alarm1->text(), QStringLiteral("报警一ON"));
    EXPECT_EQ(background(alarm1), qRgb(255, 192, 192));
    EXPECT_EQ(alarm2->text(), QStringLiteral("报警二OFF"));
    EXPECT_EQ(background(alarm2), qRgb(192, 255, 255));
    state.store.AlarmCoil.set(0, 0);
    state.store.AlarmCoil.set(1, 5);
    window->Timer1_Timer();
    EXPECT_EQ(alarm1->text(), QStringLiteral("报警一OFF"));
    EXPECT_EQ(background(alarm1), qRgb(192, 255, 255));
    EXPECT_EQ(alarm2->text(), QStringLiteral("报警二ON"));
}

TEST_F(MainWindowTest, TheDisplayTickRestoresTheRulerColoursOnlyWhileTheRulerIsOff) {
    load();
    const QRgb yellow = qRgb(255, 255, 0);
    auto paint = [&](QWidget* w) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, yellow);
        w->setPalette(p);
    };
    for (int i = 0; i <= 11; ++i) {
        paint(window->D_3W.value(i, nullptr));
    }
    paint(window->Label2.value(9, nullptr));
    window->m_view.rulerOn = true;
    window->Timer1_Timer();
    EXPECT_EQ(background(window->D_3W.value(0, nullptr)), yellow);
    window->m_view.rulerOn = false;
    window->Timer1_Timer();
    EXPECT_EQ(background(window->D_3W.value(10, nullptr)), qRgb(255, 192, 255));
    EXPECT_EQ(background(window->D_3W.value(11, nullptr)), yellow);
    EXPECT_EQ(background(window->Label2.value(9, nullptr)), qRgb(128, 255, 128));
}

TEST_F(MainWindowTest, AxisCaptionsFollowTheFullScaleOnEveryTick) {
    load();
    window->Timer1_Timer();
    EXPECT_EQ(window->Label5.value(5, nullptr)->text(), QStringLiteral("6000"));
    EXPECT_EQ(window->Label5.value(0, nullptr)->text(), QStringLiteral("1000"));
    state.yFullScale = 100;
    window->Timer1_Timer();
    EXPECT_EQ(window->Label5.value(0, nullptr)->text(), QStringLiteral("17"));
    window->Label5.value(0, nullptr)->setText(QStringLiteral("x"));
    window->Timer1_Timer();
    EXPECT_EQ(window->Label5.value(0, nullptr)->text(), QStringLiteral("17"));
}

TEST_F(MainWindowTest, FullScaleEditorOpensOnDoubleClickAndClosesOnlyOnAValueInRange) {
    load();
    QTest::mouseDClick(window->Label5.value(3, nullptr), Qt::LeftButton);
    EXPECT_TRUE(window->YKD->isVisible());
    EXPECT_TRUE(window->Label9->isVisible());
    EXPECT_TRUE(window->Command26->isVisible());

    for (const char* refused : {"12000.4", "0.9", "", "abc", "-5"}) {
        window->YKD->setText(QString::fromUtf8(refused));
        window->Command26->click();
        EXPECT_EQ(state.yFullScale, 6000) << refused;
        EXPECT_TRUE(window->YKD->isVisible()) << refused;
    }
    window->YKD->setText(QStringLiteral("2.5"));
    window->Command26->click();
    EXPECT_EQ(state.yFullScale, 2);
    EXPECT_FALSE(window->YKD->isVisible());
    EXPECT_FALSE(window->Command26->isVisible());
}

TEST_F(MainWindowTest, ClockShowsModelDateAndTimeAndLeavesThemToTheRuler) {
    load();
    state.store.MeterReg.set(meterlink::kModelCodeSlot, 310.0F);
    window->Timer3_Timer();
    EXPECT_EQ(text(25), QStringLiteral("310"));
    const QString date = window->Label2.value(9, nullptr)->text();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d-\\d\\d-\\d{4}$")).match(date).hasMatch())
        << date.toStdString();
    EXPECT_EQ(date, QDate::currentDate().toString(QStringLiteral("MM-dd-yyyy")));
    const QString time = window->Label2.value(10, nullptr)->text();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$")).match(time).hasMatch());

    window->m_view.rulerOn = true;
    window->Label2.value(9, nullptr)->setText(QStringLiteral("2001/07/19"));
    state.store.MeterReg.set(meterlink::kModelCodeSlot, 311.0F);
    window->Timer3_Timer();
    EXPECT_EQ(window->Label2.value(9, nullptr)->text(), QStringLiteral("2001/07/19"));
    EXPECT_EQ(text(25), QStringLiteral("311"));
}

TEST_F(MainWindowTest, AFrameCloseIsRefusedAndChangesNothing) {
    ASSERT_TRUE(data.createReadingLog());
    load();
    ASSERT_TRUE(QSqlDatabase::database(QString::fromLatin1(ssqx::kConnectionName), false).isOpen());
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(state.mainWindowLoaded);
    EXPECT_TRUE(window->closeLocked);
    EXPECT_TRUE(QSqlDatabase::database(QString::fromLatin1(ssqx::kConnectionName), false).isOpen());
    EXPECT_TRUE(window->Timer1.isActive());
    EXPECT_TRUE(window->Timer2.isActive());
    EXPECT_TRUE(window->Timer3.isActive());
    EXPECT_EQ(endProcessCalls, 0);
}

TEST_F(MainWindowTest, ExitClosesTheDatabaseUnloadsAndEndsWithoutClosingThePort) {
    ASSERT_TRUE(data.createReadingLog());
    load();
    meterlink::Met1 met1(state, meter);
    window->setAcquisition(&met1);
    window->m_linkPanel->Command9_Click();
    fake_reset();
    window->Command1->click();
    EXPECT_EQ(endProcessCalls, 1);
    EXPECT_FALSE(window->closeLocked);
    EXPECT_FALSE(state.mainWindowLoaded);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(QSqlDatabase::contains(QString::fromLatin1(ssqx::kConnectionName)));
    EXPECT_EQ(fake_call_count(), 0);
}

TEST_F(MainWindowTest, EscEndsTheProgramWhicheverControlHasTheFocus) {
    load();
    window->YKD->setVisible(true);
    QTest::keyClick(window->YKD, Qt::Key_Escape);
    EXPECT_EQ(endProcessCalls, 1);
}

TEST_F(MainWindowTest, ConfigurationButtonSwapsWindowsAndBack) {
    load();
    window->Command21->setEnabled(true);
    window->Command21->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->Timer1.isActive());
    QWidget* config = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == QStringLiteral("CONFIG1") && top->isVisible()) {
            config = top;
        }
    }
    ASSERT_NE(config, nullptr);
    auto* back = config->findChild<QPushButton*>(QStringLiteral("Command11"));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->text(), QStringLiteral(" Esc 返回"));
    const QPointer<QWidget> closed(config);
    back->click();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(config->isVisible());
    // The unloaded window is deleted once control is back in the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closed.isNull());
}

TEST_F(MainWindowTest, ClosingTheConfigurationWindowByItsFrameAlsoBringsTheMainWindowBack) {
    load();
    window->Command21->setEnabled(true);
    window->Command21->click();
    QWidget* config = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == QStringLiteral("CONFIG1") && top->isVisible()) {
            config = top;
        }
    }
    ASSERT_NE(config, nullptr);
    const QPointer<QWidget> closed(config);
    EXPECT_TRUE(config->close());
    EXPECT_TRUE(window->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closed.isNull());
}

TEST_F(MainWindowTest, ANewSnapshotExtendsTheLiveTrendByOnePoint) {
    load();
    state.store.LiveVal.set(0, 381.5F);
    state.store.LiveVal.set(10, 50.02F);
    state.newRecordReady = true;
    window->Timer1_Timer();
    EXPECT_FALSE(state.newRecordReady);
    EXPECT_EQ(window->m_view.viewEnd, 242);
    EXPECT_EQ(window->m_trendBuffer.value(0, 242), 381.5F);
    EXPECT_EQ(window->m_trendBuffer.value(10, 242), 50.02F);
    EXPECT_GT(window->m_trendBuffer.trendDate.value(242), 40000.0);
}

using MainWindowDeathTest = MainWindowTest;

TEST_F(MainWindowDeathTest, ExitEndsTheProcessAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ssqx main(state, meter);
            main.Form_Load();
            main.show();
            main.Command1->click();
            std::abort();
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
