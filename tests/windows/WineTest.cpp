// The Windows build under wine against the Linux simulator: wine's COM1 leads to the simulator's
// pseudo-terminal, so MODBUS485.dll and the station talk to it through the Win32 serial calls.
// Run from the Windows build's ctest, which names the programs in the environment:
//   VX310_WINE_RUN      the script that runs a Windows program in the build's wine prefix
//   VX310_WINDOWS_BIN   the folder of vx310-link-probe.exe, vx310-station-probe.exe and the tools
//   WINEPREFIX          that prefix; its COM1 is the link $WINEPREFIX/vx310-com1

#include "LinkTestConstants.h"
#include "MqttBroker.h"
#include "Readings.h"
#include "SimProcess.h"
#include "TrendLogFixture.h"
#include "modbus485.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

using namespace vx310test;
namespace fs = std::filesystem;

namespace {

constexpr auto kWineStart = std::chrono::seconds(60);
constexpr auto kCallTimeout = std::chrono::seconds(10);
// Hang guard only, as on Linux: a silent call costs its time-out and wire time, well under this.
constexpr long long kSilentCallBoundMs = 450;
constexpr std::uint32_t kProbeFloatSentinel = 0x7fc00badu;
constexpr std::int32_t kProbeWordSentinel = -7777;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string windowsProgram(const std::string& name) {
    return env("VX310_WINDOWS_BIN") + "/" + name;
}

/// One call's answer from the probe: the result, its milliseconds and what it wrote.
struct Answer {
    std::string call;
    double result = 0;
    long long ms = -1;
    std::vector<std::int64_t> values;
};

Answer parse(const std::string& line, bool hex) {
    Answer a;
    std::istringstream in(line);
    in >> a.call >> a.result >> a.ms;
    if (hex) {
        in >> std::hex;
    }
    std::int64_t v = 0;
    while (in >> v) {
        a.values.push_back(v);
    }
    return a;
}

/// vx310-link-probe.exe under wine: the DLL's calls one at a time.
class Probe {
  public:
    Probe() : m_child({env("VX310_WINE_RUN"), windowsProgram("vx310-link-probe.exe")}) {
        const auto line = m_child.readLine(kWineStart);
        m_ready = line.value_or("");
    }

    const std::string& readyLine() const { return m_ready; }

    Answer call(const std::string& line) {
        if (!m_child.writeLine(line)) {
            return {};
        }
        const auto reply = m_child.readLine(kCallTimeout);
        return reply ? parse(*reply, line.starts_with("dr8")) : Answer{};
    }

    std::array<std::uint32_t, 8> floats(int first) {
        const Answer a = call("dr8 1 1 " + std::to_string(first));
        std::array<std::uint32_t, 8> bits{};
        for (std::size_t i = 0; i < bits.size() && i < a.values.size(); ++i) {
            bits[i] = static_cast<std::uint32_t>(a.values[i]);
        }
        return bits;
    }

  private:
    ChildProcess m_child;
    std::string m_ready;
};

/// The name a Windows program gives a Linux path: wine's drive Z: is the root.
std::string onZ(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

std::uint32_t bitsOf(float f) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

class Wine : public ::testing::Test {
  protected:
    void SetUp() override {
        if (env("VX310_WINDOWS_BIN").empty() || env("VX310_WINE_RUN").empty() ||
            env("WINEPREFIX").empty()) {
            GTEST_SKIP() << "run from the Windows build's ctest";
        }
    }

    /// The simulator, with wine's COM1 leading to its line.
    void startSim(std::vector<std::string> args) {
        m_sim = std::make_unique<SimProcess>(m_dir.path(), std::move(args));
        ASSERT_TRUE(m_sim->ready());
        const fs::path com1 = fs::path(env("WINEPREFIX")) / "vx310-com1";
        const fs::path next = com1.string() + ".new";
        fs::remove(next);
        fs::create_symlink(fs::read_symlink(m_sim->linkPath()), next);
        fs::rename(next, com1);
    }

    /// The sixteen readings and the model code as the Linux library reads them.
    std::pair<std::array<float, 16>, std::int32_t> readOnLinux() {
        std::array<float, 16> readings{};
        EXPECT_EQ(OpenPort_Modbus(kPort, kBaud9600, kParityNone), 0);
        Get_3X_DR8(kPort, kMeter, 1, readings.data());
        Get_3X_DR8(kPort, kMeter, 17, readings.data() + 8);
        const std::int32_t model = Get_3X_D1(kPort, kMeter, 201);
        ClosePort_Modbus(kPort);
        return {readings, model};
    }

    RunResult runOnWindows(const std::string& program, std::vector<std::string> args,
                           std::chrono::milliseconds timeout = std::chrono::seconds(90)) {
        args.insert(args.begin(), {env("VX310_WINE_RUN"), windowsProgram(program)});
        return runProgram(args, timeout);
    }

    TempDir m_dir;
    std::unique_ptr<SimProcess> m_sim;
};

TEST_F(Wine, TheLibraryExportsItsSevenOperationsAndReadsEveryReadingExactly) {
    startSim({"--freeze"});
    const auto [readings, model] = readOnLinux();
    ASSERT_EQ(model, 310);

    Probe probe;
    ASSERT_EQ(probe.readyLine(), "ready 7");
    ASSERT_EQ(probe.call("open 1 1 0").result, 0);
    const auto first = probe.floats(1);
    const auto second = probe.floats(17);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(first[i], bitsOf(readings[i])) << "reading " << i;
        EXPECT_EQ(second[i], bitsOf(readings[8 + i])) << "reading " << 8 + i;
    }
    EXPECT_EQ(probe.call("d1 1 1 201").result, 310);
    EXPECT_EQ(probe.call("close 1").result, 0);
}

TEST_F(Wine, ASecondProcessCannotOpenAPortThatIsOpen) {
    startSim({});
    Probe holder;
    Probe other;
    ASSERT_EQ(holder.call("open 1 1 0").result, 0);
    EXPECT_EQ(other.call("open 1 1 0").result, -1);
    EXPECT_EQ(holder.call("d1 1 1 201").result, 310);
    ASSERT_EQ(holder.call("close 1").result, 0);
    EXPECT_EQ(other.call("open 1 1 0").result, 0);
    EXPECT_EQ(other.call("d1 1 1 201").result, 310);
}

TEST_F(Wine, ASilentMeterKeepsTheLastRelayStateAndEveryCallEndsInTime) {
    startSim({});
    Probe probe;
    ASSERT_EQ(probe.call("open 1 1 0").result, 0);
    // Alarm 1 picked up for good, so a silent coil read is told apart from an OFF relay.
    ASSERT_EQ(probe.call("set 1 1 2 0").result, 0);
    ASSERT_EQ(probe.call("set 1 1 3 0").result, 0);
    ASSERT_NE(probe.call("bit 1 1 1").result, 0);
    ASSERT_EQ(probe.call("d1 1 1 201").result, 310);
    ASSERT_TRUE(m_sim->command("silent on"));

    for (const std::string call :
         {"bit 1 1 1", "d1 1 1 201", "dr8 1 1 1", "d8 1 1 1", "set 1 1 5 1"}) {
        const Answer a = probe.call(call);
        EXPECT_LE(a.ms, kSilentCallBoundMs) << call;
        EXPECT_GE(a.ms, 0) << call;
        if (call.starts_with("bit")) {
            EXPECT_NE(a.result, 0) << "an ON relay went OFF on a silent line";
        } else if (call.starts_with("d1")) {
            EXPECT_EQ(a.result, 310);
        } else if (call.starts_with("dr8")) {
            EXPECT_EQ(a.values, std::vector<std::int64_t>(8, kProbeFloatSentinel));
        } else if (call.starts_with("d8")) {
            EXPECT_EQ(a.values, std::vector<std::int64_t>(8, kProbeWordSentinel));
        } else {
            EXPECT_EQ(a.result, -8888);
        }
    }
    ASSERT_TRUE(m_sim->command("silent off"));
    EXPECT_EQ(probe.call("d1 1 1 201").result, 310);
}

TEST_F(Wine, ALateMeterIsNeverReadAsAnotherRequestsAnswer) {
    startSim({"--delay", "260,330,90,420"});
    const metersim::HoldingRegs regs = metersim::defaultHoldingRegs();
    const auto served = [&regs](int first) {
        std::vector<std::int64_t> block;
        for (int r = first - 1; r < first + 7; ++r) {
            block.push_back(r < metersim::kStoredHolding ? regs[static_cast<std::size_t>(r)] : 0);
        }
        return block;
    };
    Probe probe;
    ASSERT_EQ(probe.call("open 1 1 0").result, 0);
    int answered = 0;
    for (int round = 0; round < 6; ++round) {
        for (const int first : {1, 9, 17, 25}) {
            const Answer a = probe.call("d8 1 1 " + std::to_string(first));
            if (a.result == 0) {
                ++answered;
                EXPECT_EQ(a.values, served(first)) << "block " << first << ", round " << round;
            } else {
                EXPECT_EQ(a.values, std::vector<std::int64_t>(8, kProbeWordSentinel));
            }
        }
        const Answer model = probe.call("d1 1 1 201");
        EXPECT_TRUE(model.result == 310 || model.result == 0) << model.result;
    }
    // The timeout learns the lateness, so most calls are answered once it has.
    EXPECT_GE(answered, 8);
}

TEST_F(Wine, TheStationRecordsTheMetersReadingsIntoItsWindowsLogAndTheToolExportsThem) {
    startSim({"--freeze"});
    const auto [readings, model] = readOnLinux();
    ASSERT_EQ(model, 310);

    const fs::path local = fs::path(env("WINEPREFIX")) / "drive_c/users" /
                           (env("USER").empty() ? "root" : env("USER")) / "AppData/Local";
    fs::remove_all(local / "JetR");
    const RunResult created = runOnWindows("vx310-initdb.exe", {});
    ASSERT_EQ(created.exitStatus, 0) << created.err;
    const fs::path log = local / "JetR/Rdatabj.db";
    ASSERT_TRUE(fs::is_regular_file(log)) << created.out << created.err;

    const RunResult recorded = runOnWindows("vx310-station-probe.exe", {"3"});
    ASSERT_EQ(recorded.exitStatus, 0) << recorded.out << recorded.err;

    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("w"));
        db.setDatabaseName(QString::fromStdString(log.string()));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("select * from pv_data where w_v0 <> 0 order by w_id")));
        int rows = 0;
        while (q.next()) {
            ++rows;
            for (int k = 0; k < 16; ++k) {
                EXPECT_EQ(bitsOf(q.value(3 + k).toFloat()), bitsOf(readings[k]))
                    << "row " << q.value(0).toInt() << ", reading " << k;
            }
            for (int k = 16; k < 26; ++k) {
                EXPECT_EQ(q.value(3 + k).toDouble(), 0.0);
            }
        }
        EXPECT_GE(rows, 3);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("w"));

    // Beside the log on the same drive, but not the log: written, and written again over the
    // first export, never refused as the log.
    for (int run = 0; run < 2; ++run) {
        const RunResult exported = runOnWindows(
            "vx310-export.exe", {"--from", "2000-01-01 00:00:00", "--to", "2099-12-31 23:59:59",
                                 "--output", "C:\\users\\Public\\readings.csv"});
        EXPECT_EQ(exported.exitStatus, 0) << "export " << run << ": " << exported.err;
    }
    QFile csv(QString::fromStdString(
        (fs::path(env("WINEPREFIX")) / "drive_c/users/Public/readings.csv").string()));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_GE(csv.readAll().count('\n'), 4);
    csv.remove();
}

TEST_F(Wine, ThePublisherSendsEverySnapshotOverTlsAndRefusesAStrangeCa) {
    const QString folder = QString::fromStdString(m_dir.path());
    QString output;
    ASSERT_TRUE(mqtttest::makeTlsFiles(folder, &output)) << output.toStdString();
    ASSERT_TRUE(QDir(folder).mkpath(QStringLiteral("broker")));
    mqtttest::MqttBroker broker(folder + QStringLiteral("/broker"));
    broker.addListenerLines({"cafile " + folder + "/ca.crt", "certfile " + folder + "/server.crt",
                             "keyfile " + folder + "/server.key"});
    ASSERT_TRUE(broker.start()) << broker.logText().toStdString();
    trendtest::TestLog log;
    ASSERT_TRUE(log.created());
    ASSERT_TRUE(log.insert(
        trendtest::secondsApart(1, 20, QDateTime(QDate(2026, 12, 8), QTime(23, 59, 50)))));
    ASSERT_TRUE(log.setLastId(20));
    mqtttest::Subscriber subscriber(broker.port(), {QStringLiteral("vx310/wine/snapshot")},
                                    {folder + QStringLiteral("/ca.crt"), {}, {}});
    ASSERT_TRUE(subscriber.waitSubscribed());

    const auto publish = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = {"--broker",  broker.url("mqtts").toStdString(),
                                         "--station", "wine",
                                         "--log",     onZ(log.path().toStdString()),
                                         "--state",   onZ(m_dir.path() + "/state"),
                                         "--once"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runOnWindows("vx310-publish.exe", args);
    };
    const RunResult unchecked = publish({});
    EXPECT_EQ(unchecked.exitStatus, 2);
    EXPECT_NE(unchecked.err.find("needs --cafile on Windows"), std::string::npos) << unchecked.err;
    const RunResult strange = publish({"--cafile", onZ(m_dir.path() + "/other-ca.crt")});
    EXPECT_EQ(strange.exitStatus, 1);
    EXPECT_NE(strange.err.find("certificate verify failed"), std::string::npos) << strange.err;
    EXPECT_TRUE(subscriber.messages().empty());

    const RunResult right = publish({"--cafile", onZ(m_dir.path() + "/ca.crt")});
    ASSERT_EQ(right.exitStatus, 0) << right.err;
    ASSERT_TRUE(subscriber.waitFor([](const auto& m) { return m.size() >= 20; }));
    std::vector<int> records;
    for (const auto& message : subscriber.messages()) {
        records.push_back(
            QJsonDocument::fromJson(message.payload).object().value(u"record").toInt());
    }
    std::vector<int> expected(20);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(records, expected);
}

} // namespace
