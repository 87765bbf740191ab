// "F3 打印" and "F5 选择" of the main window, with real PDF output and a real reading log.

#include "FakeMeter.h"
#include "TrendLogFixture.h"
#include "monitor/SelectionWindow.h"
#include "monitor/ssqx.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using monitor::ssqx;
using trendtest::SteppedClock;
using trendtest::TestLog;

namespace {

const QDateTime kMorning(QDate(2026, 12, 8), QTime(9, 0, 0));

class PrintAndSelectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_reset();
        ASSERT_TRUE(log.created());
        ASSERT_TRUE(output.isValid());
    }

    void load() {
        window = std::make_unique<ssqx>(state, meter);
        window->setEndProcess([] {});
        window->setPrinterChooser([this](QPrinter& printer) {
            ++printerAsked;
            if (cancelPrint) {
                return false;
            }
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdfPath());
            return true;
        });
        window->Form_Load();
        window->show();
    }

    /// Exports the first ten seconds of the log into the file named, doing meanwhile what is given
    /// once the selection window is open; the text of the message box the export shows, empty
    /// when it shows none.
    QString exportInto(const QString& path, const std::function<void()>& meanwhile = {}) {
        window->setExportFileChooser([path](const QString&) { return path; });
        window->Command6->click();
        monitor::SelectionWindow* selection = window->selectionWindow();
        if (selection == nullptr) {
            ADD_FAILURE() << "no selection window";
            return {};
        }
        selection->m_fromEdit->setDateTime(kMorning);
        selection->m_toEdit->setDateTime(kMorning.addSecs(9));
        if (meanwhile) {
            meanwhile();
        }
        QString shown;
        QObject scope;
        QTimer::singleShot(0, &scope, [&shown] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->done(0);
            }
        });
        selection->m_export->click();
        return shown;
    }

    [[nodiscard]] QString pdfPath() const { return output.filePath(QStringLiteral("page.pdf")); }

    void seed(int count) {
        ASSERT_TRUE(log.insert(trendtest::secondsApart(1, count, kMorning)));
        ASSERT_TRUE(log.setLastId(count));
    }

    TestLog log;
    QTemporaryDir output;
    SteppedClock clock{kMorning.addSecs(2000)};
    meterlink::SharedState state;
    meterlink::MeterAccess meter{QStringLiteral(FAKE_METER_LIBRARY)};
    std::unique_ptr<ssqx> window;
    int printerAsked = 0;
    bool cancelPrint = false;
};

TEST_F(PrintAndSelectionTest, F3PrintsTheWindowLandscapeOnceOnTheThirdTick) {
    load();
    window->Command2->click();
    QTest::keyClick(window->Command1, Qt::Key_F3);
    EXPECT_TRUE(window->printRequest);
    EXPECT_TRUE(window->Timer4.isActive());
    window->Timer4_Timer();
    window->Timer4_Timer();
    EXPECT_FALSE(QFile::exists(pdfPath()));
    window->Timer4_Timer();

    EXPECT_EQ(printerAsked, 1);
    EXPECT_FALSE(window->printRequest);
    EXPECT_FALSE(window->Timer4.isActive());
    EXPECT_TRUE(window->Image2->pixmap().isNull());
    EXPECT_FALSE(window->Image2->isVisible());
    const QImage copied = QGuiApplication::clipboard()->image();
    EXPECT_EQ(copied.size(), window->size());

    QFile pdf(pdfPath());
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(pdf.readAll());
    const QRegularExpression mediaBox(QStringLiteral("/MediaBox \\[0 0 ([0-9.]+) ([0-9.]+)\\]"));
    const auto box = mediaBox.match(text);
    ASSERT_TRUE(box.hasMatch());
    EXPECT_GT(box.captured(1).toDouble(), box.captured(2).toDouble()) << "landscape";
    EXPECT_EQ(text.count(QStringLiteral("/MediaBox")), 1) << "one page";
    EXPECT_TRUE(text.contains(QStringLiteral("/Subtype /Image")));
    EXPECT_TRUE(text.contains(QStringLiteral("/Width %1").arg(window->width())));
}

TEST_F(PrintAndSelectionTest, ACancelledPrintLeavesTheRoutineReadyForTheNextF3) {
    load();
    cancelPrint = true;
    QTest::keyClick(window->Command1, Qt::Key_F3);
    for (int tick = 0; tick < 3; ++tick) {
        window->Timer4_Timer();
    }
    EXPECT_EQ(printerAsked, 1);
    EXPECT_FALSE(QFile::exists(pdfPath()));
    EXPECT_FALSE(window->Timer4.isActive());
    EXPECT_FALSE(window->printRequest);

    cancelPrint = false;
    QTest::keyClick(window->Command1, Qt::Key_F3);
    for (int tick = 0; tick < 3; ++tick) {
        window->Timer4_Timer();
    }
    EXPECT_EQ(printerAsked, 2);
    EXPECT_TRUE(QFile::exists(pdfPath()));
}

TEST_F(PrintAndSelectionTest, F5OffersTheMomentsTheLogHolds) {
    seed(1000);
    load();
    QTest::keyClick(window->Command1, Qt::Key_F5);
    monitor::SelectionWindow* selection = window->selectionWindow();
    ASSERT_NE(selection, nullptr);
    EXPECT_EQ(selection->windowTitle(), QStringLiteral("选择"));
    EXPECT_TRUE(selection->isVisible());
    EXPECT_EQ(selection->m_momentEdit->minimumDateTime(), kMorning);
    EXPECT_EQ(selection->m_momentEdit->maximumDateTime(), kMorning.addSecs(999));
    EXPECT_EQ(selection->m_show->text(), QStringLiteral("确定"));
    EXPECT_EQ(selection->m_export->text(), QStringLiteral("导出"));
    EXPECT_EQ(selection->m_cancel->text(), QStringLiteral("取消"));
    selection->m_cancel->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->selectionWindow(), nullptr);
}

TEST_F(PrintAndSelectionTest, F5WithAnEmptyLogShowsNothing) {
    load();
    window->Command6->click();
    EXPECT_EQ(window->selectionWindow(), nullptr);
}

TEST_F(PrintAndSelectionTest, ConfirmingAMomentShowsItsWindowAsTheStepsBackWould) {
    seed(1000);
    load();
    window->Command6->click();
    monitor::SelectionWindow* selection = window->selectionWindow();
    ASSERT_NE(selection, nullptr);
    selection->m_momentEdit->setDateTime(kMorning.addSecs(499)); // record 500
    selection->m_show->click();

    // Six steps back end the window at 640, whose first shown point (181) is record 500.
    EXPECT_EQ(window->m_view.scrollSteps, 6);
    EXPECT_EQ(window->m_view.windowEnd, 640);
    EXPECT_FALSE(window->Timer1.isActive());
    EXPECT_TRUE(window->Command7->isEnabled());
    EXPECT_TRUE(window->Command8->isEnabled());
    EXPECT_EQ(window->m_trendBuffer.value(0, 321), 640.0F);
    EXPECT_EQ(window->m_trendBuffer.value(0, 181), 500.0F);

    // With the ruler on, the moment's point comes under it.
    window->Command5->click();
    window->jumpToMoment(trendtest::dateOf(kMorning) + trendtest::timeOf(kMorning.addSecs(399)));
    EXPECT_EQ(window->D_3W.value(0, nullptr)->text(), QStringLiteral("400"));
    EXPECT_EQ(window->Label2.value(10, nullptr)->text(), QStringLiteral("09:06:39"));
}

TEST_F(PrintAndSelectionTest, ExportWritesTheChosenSpanToTheNamedFile) {
    seed(100);
    load();
    const QString csv = output.filePath(QStringLiteral("span.csv"));
    QString suggested;
    window->setExportFileChooser([&](const QString& name) {
        suggested = name;
        return csv;
    });
    window->Command6->click();
    monitor::SelectionWindow* selection = window->selectionWindow();
    ASSERT_NE(selection, nullptr);
    selection->m_fromEdit->setDateTime(kMorning.addSecs(10));
    selection->m_toEdit->setDateTime(kMorning.addSecs(19));
    selection->m_export->click();
    EXPECT_EQ(suggested, QStringLiteral("vx310-20261208-090010.csv"));
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    EXPECT_TRUE(lines[0].startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(lines.size(), 1 + 10 + 1);
    EXPECT_TRUE(lines[1].startsWith("2026/12/08,09:00:10,11,"));
    EXPECT_TRUE(selection->isVisible()) << "the window stays for another export";
}

TEST_F(PrintAndSelectionTest, ExportRefusesTheReadingLogWithAMessageAndLeavesItWhole) {
    seed(100);
    load();
    const QString link = output.filePath(QStringLiteral("log-link.db"));
    ASSERT_TRUE(QFile::link(log.path(), link));
    for (const QString& path : {log.path(), link, log.path() + QStringLiteral("-wal")}) {
        EXPECT_FALSE(exportInto(path).isEmpty()) << qPrintable(path);
    }
    EXPECT_EQ(log.count(), 100);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    QFile file(log.path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.read(16), QByteArray("SQLite format 3", 16)) << "the log was written over";
}

TEST_F(PrintAndSelectionTest, AFailedExportSaysSoAndLeavesAnEarlierFileAsItWas) {
    seed(100);
    load();
    const QString csv = output.filePath(QStringLiteral("earlier.csv"));
    {
        QFile file(csv);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("an earlier export\r\n");
    }
    EXPECT_FALSE(exportInto(csv, [this] {
                     ASSERT_TRUE(log.exec(QStringLiteral("ALTER TABLE pv_data RENAME TO pv_gone")));
                 }).isEmpty());
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("an earlier export\r\n"));
    EXPECT_EQ(QDir(output.path()).entryList(QDir::Files), QStringList{QStringLiteral("earlier.csv")});
}

} // namespace
