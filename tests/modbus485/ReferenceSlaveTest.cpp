// The meter-access library against libmodbus's own slave, so that the library is shown to talk to
// a standard Modbus RTU slave and not only to our simulator.

#include "SimProcess.h"
#include "modbus485.h"

#include <modbus/modbus.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int32_t kPort = 7;
constexpr int32_t kSlave = 9;
constexpr std::array<float, 16> kReadings = {381.5F,  379.25F, -0.5F,   4.125F,  3.0F,  1e-5F,
                                             1234.5F, 0.0F,    -220.0F, 6000.0F, 50.0F, 12.0F,
                                             4.0F,    20.0F,   2.5e7F,  18.0F};

/// High word first, each word as the wire carries it: written by hand, not by libmodbus's setters.
void putFloat(uint16_t* regs, float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    regs[0] = static_cast<uint16_t>(bits >> 16);
    regs[1] = static_cast<uint16_t>(bits & 0xFFFFU);
}

/// libmodbus's reference slave serving the far end of a pty in a child process.
class ReferenceSlave : public ::testing::Test {
  protected:
    void SetUp() override {
        m_master = vx310test::openRawPty();
        ASSERT_GE(m_master, 0);

        const std::filesystem::path links = std::filesystem::path(m_dir.path()) / "modbus485";
        std::filesystem::create_directories(links);
        std::filesystem::create_symlink(ptsname(m_master), links / ("com" + std::to_string(kPort)));
        setenv("XDG_DATA_HOME", m_dir.path().c_str(), 1);

        m_child = fork();
        ASSERT_GE(m_child, 0);
        if (m_child == 0) {
            serve();
        }
        ASSERT_EQ(OpenPort_Modbus(kPort, 1, 0), 0);
    }

    void TearDown() override {
        ClosePort_Modbus(kPort);
        if (m_child > 0) {
            kill(m_child, SIGKILL);
            waitpid(m_child, nullptr, 0);
        }
        close(m_master);
    }

    [[noreturn]] void serve() {
        modbus_t* ctx = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
        modbus_mapping_t* map = modbus_mapping_new(2, 0, 40, 210);
        if (ctx == nullptr || map == nullptr) {
            _exit(1);
        }
        modbus_set_slave(ctx, kSlave);
        modbus_set_socket(ctx, m_master);
        for (std::size_t i = 0; i < kReadings.size(); ++i) {
            putFloat(&map->tab_input_registers[2 * i], kReadings[i]);
        }
        map->tab_input_registers[200] = 310;
        map->tab_bits[0] = 1;
        map->tab_bits[1] = 0;
        for (int i = 0; i < 32; ++i) {
            map->tab_registers[i] = static_cast<uint16_t>(100 + i);
        }
        map->tab_registers[2] = 0xFFFF;
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (true) {
            const int rc = modbus_receive(ctx, query);
            if (rc > 0) {
                modbus_reply(ctx, query, rc, map);
            }
        }
    }

    vx310test::TempDir m_dir;
    int m_master = -1;
    pid_t m_child = -1;
};

TEST_F(ReferenceSlave, ReadsTheSixteenFloatsInTwoBlocks) {
    std::array<float, 16> got{};
    Get_3X_DR8(kPort, kSlave, 1, got.data());
    Get_3X_DR8(kPort, kSlave, 17, got.data() + 8);
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i], kReadings[i]) << "float " << i;
    }
}

TEST_F(ReferenceSlave, ReadsModelCodeCoilsAndSignedHoldingRegisters) {
    EXPECT_EQ(Get_3X_D1(kPort, kSlave, 201), 310);
    EXPECT_EQ(Get_0X_Bit1(kPort, kSlave, 1), 1);
    EXPECT_EQ(Get_0X_Bit1(kPort, kSlave, 2), 0);
    std::array<int32_t, 8> regs{};
    Get_4X_D8(kPort, kSlave, 1, regs.data());
    EXPECT_EQ(regs, (std::array<int32_t, 8>{100, 101, -1, 103, 104, 105, 106, 107}));
}

TEST_F(ReferenceSlave, WritesAHoldingRegisterAndReadsItBack) {
    EXPECT_EQ(Set_4X_D1(kPort, kSlave, 13, 0x12345), 0);
    std::array<int32_t, 8> regs{};
    Get_4X_D8(kPort, kSlave, 9, regs.data());
    EXPECT_EQ(regs[4], 0x2345);
}

TEST_F(ReferenceSlave, AnExceptionAnswerFailsTheCallAndTheNextCallStillWorks) {
    EXPECT_EQ(Set_4X_D1(kPort, kSlave, 41, 1), -8888);
    std::array<int32_t, 8> regs{};
    regs.fill(-7);
    Get_4X_D8(kPort, kSlave, 37, regs.data());
    EXPECT_EQ(regs[0], -7);
    EXPECT_EQ(Get_3X_D1(kPort, kSlave, 201), 310);
}

} // namespace
