// Raw Modbus frames against the real simulator serving one side of a pty pair.

#include "Frame.h"
#include "MeterSlave.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using metersim::Frame;
using vx310test::SimProcess;
using vx310test::TempDir;

namespace {

Frame withCrc(Frame f) {
    const uint16_t crc = modbus485::crc16(f);
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

class SimWire : public ::testing::Test {
  protected:
    void SetUp() override {
        m_master = vx310test::openRawPty();
        ASSERT_GE(m_master, 0);
        m_sim = std::make_unique<SimProcess>(
            m_dir.path(), std::vector<std::string>{"--device", ptsname(m_master)});
        ASSERT_TRUE(m_sim->ready());
    }

    void TearDown() override { close(m_master); }

    /// Sends a request and collects what comes back until the line stays quiet for 100 ms.
    Frame exchange(const Frame& request) {
        EXPECT_EQ(write(m_master, request.data(), request.size()),
                  static_cast<ssize_t>(request.size()));
        Frame reply;
        pollfd pfd{m_master, POLLIN, 0};
        while (poll(&pfd, 1, 100) > 0) {
            uint8_t buf[256];
            const ssize_t n = read(m_master, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            reply.insert(reply.end(), buf, buf + n);
        }
        return reply;
    }

    TempDir m_dir;
    int m_master = -1;
    std::unique_ptr<SimProcess> m_sim;
};

TEST_F(SimWire, AnswersTheModelCodeWithAnExactFrame) {
    EXPECT_EQ(exchange(withCrc({1, 4, 0, 200, 0, 1})), withCrc({1, 4, 2, 0x01, 0x36}));
}

TEST_F(SimWire, AnswersUnmappedAddressesWithException02AndUnknownFunctionsWith01) {
    EXPECT_EQ(exchange(withCrc({1, 4, 0, 32, 0, 1})), withCrc({1, 0x84, 2}));
    EXPECT_EQ(exchange(withCrc({1, 3, 0, 30, 0, 3})), withCrc({1, 0x83, 2}));
    EXPECT_EQ(exchange(withCrc({1, 1, 0, 2, 0, 1})), withCrc({1, 0x81, 2}));
    EXPECT_EQ(exchange(withCrc({1, 0x2B, 0x0E, 1, 0, 0, 0, 0})), withCrc({1, 0xAB, 1}));
}

TEST_F(SimWire, StaysSilentForOtherAddressesAndDamagedFrames) {
    EXPECT_TRUE(exchange(withCrc({2, 4, 0, 200, 0, 1})).empty());
    Frame damaged = withCrc({1, 4, 0, 200, 0, 1});
    damaged.back() ^= 0x55;
    EXPECT_TRUE(exchange(damaged).empty());
    EXPECT_EQ(exchange(withCrc({1, 4, 0, 200, 0, 1})).size(), 7u);
}

TEST_F(SimWire, WritesSeveralRegistersAtOnceAndIgnoresThoseAbove28) {
    EXPECT_EQ(exchange(withCrc({1, 0x10, 0, 26, 0, 4, 8, 0, 9, 0, 10, 0, 11, 0, 12})),
              withCrc({1, 0x10, 0, 26, 0, 4}));
    EXPECT_EQ(exchange(withCrc({1, 3, 0, 26, 0, 4})), withCrc({1, 3, 8, 0, 9, 0, 10, 0, 0, 0, 0}));
}

TEST_F(SimWire, BroadcastWritesTakeEffectWithoutAnAnswer) {
    EXPECT_TRUE(exchange(withCrc({0, 6, 0, 1, 0x01, 0x00})).empty());
    EXPECT_EQ(exchange(withCrc({1, 3, 0, 1, 0, 1})), withCrc({1, 3, 2, 0x01, 0x00}));
}

TEST_F(SimWire, RefusesFunctionsTheMeterDoesNotHaveWithException01) {
    EXPECT_EQ(exchange(withCrc({1, 2, 0, 0, 0, 1})), withCrc({1, 0x82, 1}));
    EXPECT_EQ(exchange(withCrc({1, 5, 0, 0, 0xFF, 0})), withCrc({1, 0x85, 1}));
    EXPECT_EQ(exchange(withCrc({1, 0x0F, 0, 0, 0, 1, 1, 1})), withCrc({1, 0x8F, 1}));
    EXPECT_EQ(exchange(withCrc({1, 0x11})), withCrc({1, 0x91, 1}));
    EXPECT_EQ(exchange(withCrc({1, 0x17, 0, 0, 0, 1, 0, 1, 0, 1, 2, 0, 7})), withCrc({1, 0x97, 1}));
}

TEST_F(SimWire, AnswersBadCountsWithException03WithoutDelay) {
    EXPECT_EQ(exchange(withCrc({1, 3, 0, 0, 0, 0})), withCrc({1, 0x83, 3}));
    EXPECT_EQ(exchange(withCrc({1, 4, 0, 0, 0, 126})), withCrc({1, 0x84, 3}));
    EXPECT_EQ(exchange(withCrc({1, 1, 0, 0, 0x07, 0xD1})), withCrc({1, 0x81, 3}));
    EXPECT_EQ(exchange(withCrc({1, 0x10, 0, 0, 0, 1, 4, 0, 1, 0, 2})), withCrc({1, 0x90, 3}));
}

TEST_F(SimWire, FailedWritesAnswerException04AndKeepTheOldValue) {
    ASSERT_TRUE(m_sim->command("fail-writes 1"));
    // A write outside the map keeps its own exception and leaves the failure for the next one.
    EXPECT_EQ(exchange(withCrc({1, 6, 0, 40, 0, 1})), withCrc({1, 0x86, 2}));
    EXPECT_EQ(exchange(withCrc({1, 6, 0, 1, 0, 9})), withCrc({1, 0x86, 4}));
    EXPECT_EQ(exchange(withCrc({1, 3, 0, 1, 0, 1})), withCrc({1, 3, 2, 0x01, 0x86}));
    EXPECT_EQ(exchange(withCrc({1, 6, 0, 1, 0, 9})), withCrc({1, 6, 0, 1, 0, 9}));
    EXPECT_EQ(exchange(withCrc({1, 3, 0, 1, 0, 1})), withCrc({1, 3, 2, 0, 9}));
}

TEST_F(SimWire, AnswersInTheOrderOfTheRequestsWhateverTheirDelays) {
    ASSERT_TRUE(m_sim->command("delay 150,0"));
    // The second request comes in while the first one's answer is still due: it waits its turn.
    const Frame first = withCrc({1, 4, 0, 200, 0, 1});
    ASSERT_EQ(write(m_master, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    Frame answers = exchange(withCrc({1, 3, 0, 12, 0, 1}));
    const Frame second = withCrc({1, 3, 2, 0, 1});
    Frame expected = withCrc({1, 4, 2, 0x01, 0x36});
    expected.insert(expected.end(), second.begin(), second.end());
    // The line may fall quiet for longer than exchange() waits before the late answer comes.
    pollfd pfd{m_master, POLLIN, 0};
    while (answers.size() < expected.size() && poll(&pfd, 1, 500) > 0) {
        uint8_t buf[64];
        const ssize_t n = read(m_master, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        answers.insert(answers.end(), buf, buf + n);
    }
    EXPECT_EQ(answers, expected);
}

TEST_F(SimWire, AnswersAtTheAddressWrittenToRegister13) {
    EXPECT_EQ(exchange(withCrc({1, 6, 0, 12, 0, 9})), withCrc({1, 6, 0, 12, 0, 9}));
    EXPECT_TRUE(exchange(withCrc({1, 4, 0, 200, 0, 1})).empty());
    EXPECT_EQ(exchange(withCrc({9, 4, 0, 200, 0, 1})), withCrc({9, 4, 2, 0x01, 0x36}));
}

} // namespace
