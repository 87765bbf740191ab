#include "PortTarget.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using modbus485::PortTarget;
using Kind = PortTarget::Kind;

/// A data folder of the test's own, so no real port of the machine is touched.
class PortFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ::setenv("XDG_DATA_HOME", qPrintable(m_dir.path()), 1);
        ASSERT_TRUE(QDir().mkpath(folder()));
    }
    [[nodiscard]] QString folder() const { return m_dir.filePath(QStringLiteral("modbus485")); }
    [[nodiscard]] QString portFile(int port) const {
        return folder() + QStringLiteral("/com%1").arg(port);
    }
    void write(int port, const QByteArray& content) const {
        QFile file(portFile(port));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    QTemporaryDir m_dir;
};

TEST_F(PortFiles, NameASerialDeviceAGatewayOrNothingAnOpenCanUse) {
    struct Case {
        QByteArray content;
        Kind kind;
        std::string host;
        int tcpPort;
    };
    const std::vector<Case> cases = {
        {"tcp://127.0.0.1:1502\n", Kind::ModbusTcp, "127.0.0.1", 1502},
        {"tcp://gateway.plant\r\nmore lines\n", Kind::ModbusTcp, "gateway.plant", 502},
        {"tcp://[fe80::1]:503", Kind::ModbusTcp, "fe80::1", 503},
        {"rtu-over-tcp://10.1.2.3:4001  \n", Kind::RtuOverTcp, "10.1.2.3", 4001},
        {"rtu-over-tcp://10.1.2.3\n", Kind::Invalid, "", 0},
        {"tcp://127.0.0.1:0\n", Kind::Invalid, "", 0},
        {"tcp://127.0.0.1:65536\n", Kind::Invalid, "", 0},
        {"tcp://127.0.0.1:\n", Kind::Invalid, "", 0},
        {"tcp://:502\n", Kind::Invalid, "", 0},
        {"tcp://a b:502\n", Kind::Invalid, "", 0},
        {"tcp://[::1\n", Kind::Invalid, "", 0},
        {" tcp://127.0.0.1\n", Kind::Invalid, "", 0},
        {"udp://127.0.0.1:502\n", Kind::Invalid, "", 0},
        {"/dev/ttyUSB0\n", Kind::Invalid, "", 0},
        {"", Kind::Invalid, "", 0},
        {QByteArray(4096, 'x'), Kind::Invalid, "", 0},
    };
    for (const Case& c : cases) {
        write(3, c.content);
        const PortTarget target = modbus485::portTarget(3);
        EXPECT_EQ(target.kind, c.kind) << c.content.left(40).toStdString();
        EXPECT_EQ(target.host, c.host) << c.content.left(40).toStdString();
        EXPECT_EQ(target.tcpPort, c.tcpPort) << c.content.left(40).toStdString();
        EXPECT_EQ(target.problem.empty(), c.kind != Kind::Invalid);
    }

    // A link is a serial device, wherever it points; no file at all is the machine's own port.
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/ttyUSB7"), portFile(4)));
    EXPECT_EQ(modbus485::portTarget(4).kind, Kind::Serial);
    EXPECT_EQ(modbus485::portTarget(4).device, portFile(4).toStdString());
    EXPECT_EQ(modbus485::portTarget(5).kind, Kind::Serial);
    EXPECT_EQ(modbus485::portTarget(5).device, "/dev/ttyS4");
    EXPECT_EQ(modbus485::portTarget(0).kind, Kind::Invalid);
}

struct ToolRun {
    int exitCode;
    QString out;
    QString err;
};

ToolRun runTool(const QStringList& args) {
    QProcess tool;
    tool.start(QStringLiteral(VX310_PORT_PATH), args);
    tool.waitForFinished();
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
            QString::fromUtf8(tool.readAllStandardOutput()),
            QString::fromUtf8(tool.readAllStandardError())};
}

TEST_F(PortFiles, TheToolSetsListsAndClearsPortsAndRefusesBadArgumentsInOneLine) {
    EXPECT_EQ(runTool({"set", "3", "tcp://127.0.0.1:1502"}).exitCode, 0);
    EXPECT_EQ(runTool({"set", "4", "rtu-over-tcp://127.0.0.1:4001"}).exitCode, 0);
    EXPECT_EQ(runTool({"set", "5", "/dev/null"}).exitCode, 0);
    // A device set over a gateway replaces the file itself, never writes through a link.
    EXPECT_EQ(runTool({"set", "4", "/dev/null"}).exitCode, 0);
    EXPECT_EQ(runTool({"set", "5", "tcp://gw"}).exitCode, 0);
    EXPECT_TRUE(QFileInfo(portFile(4)).isSymLink());
    EXPECT_FALSE(QFileInfo(portFile(5)).isSymLink());
    EXPECT_EQ(modbus485::portTarget(3).kind, Kind::ModbusTcp);
    EXPECT_EQ(modbus485::portTarget(5).tcpPort, 502);

    const ToolRun listed = runTool({"list"});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_EQ(listed.out.count(u'\n'), 20) << qPrintable(listed.out);
    EXPECT_TRUE(listed.out.contains(QStringLiteral("port 3: Modbus TCP gateway 127.0.0.1:1502\n")));
    EXPECT_TRUE(listed.out.contains(QStringLiteral("port 4: serial device /dev/null\n")));

    EXPECT_EQ(runTool({"clear", "3"}).exitCode, 0);
    EXPECT_EQ(runTool({"clear", "3"}).exitCode, 0);
    EXPECT_FALSE(QFileInfo::exists(portFile(3)));

    const std::vector<QStringList> bad = {
        {},
        {"lists"},
        {"list", "1"},
        {"set", "3"},
        {"set", "0", "tcp://h"},
        {"set", "256", "tcp://h"},
        {"set", "x", "tcp://h"},
        {"set", "3", "http://h"},
        {"set", "3", "rtu-over-tcp://h"},
        {"set", "3", "/nonexistent/ttyUSB0"},
        {"set", "3", "/etc/passwd"},
        {"clear"},
        {"--bogus"},
    };
    for (const QStringList& args : bad) {
        const ToolRun run = runTool(args);
        EXPECT_EQ(run.exitCode, 2) << qPrintable(args.join(u' '));
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("vx310-port: ")) && run.err.count(u'\n') == 1)
            << qPrintable(run.err);
    }
    EXPECT_FALSE(QFileInfo::exists(portFile(3))) << "a refused set left a file behind";
}

} // namespace
