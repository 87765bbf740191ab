#include "modbus485.h"

#include "PortPath.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int32_t kWriteFailed = -8888;
constexpr int kResponseTimeoutUs = 200000;
// Gap allowed between two bytes of one reply once it has started.
constexpr int kByteTimeoutUs = 40000;
// A line that stays silent this long after a failed exchange has nothing late in flight.
constexpr int kQuietMs = 40;
// Upper bound on letting the line fall quiet, so a babbling line cannot block a call.
constexpr int kSettleLimitMs = 200;
// Longest wait that confirms the first answer after a failure; answers later than this after their
// request are beyond what the line can tell apart.
constexpr int kConfirmLimitMs = 1000;
constexpr int kMinSlave = 1;
constexpr int kMaxSlave = 247;
constexpr int kMaxRegister = 65536;

using Clock = std::chrono::steady_clock;

struct Link {
    modbus_t* ctx = nullptr;
    // Set after a failed exchange: an answer to it may still be on its way.
    bool suspect = false;
    // When the oldest request that may still be answered was sent.
    Clock::time_point oldestUnanswered;
    // When the current request was sent.
    Clock::time_point sent;
};

std::mutex g_mutex;
std::map<int32_t, Link> g_links;

std::string devicePath(int32_t port) {
    std::string link = modbus485::portLinkPath(port);
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        return link;
    }
    return "/dev/ttyS" + std::to_string(port - 1);
}

void closeLink(Link& link) {
    if (link.ctx != nullptr) {
        modbus_close(link.ctx);
        modbus_free(link.ctx);
        link.ctx = nullptr;
    }
}

int elapsedMs(Clock::time_point since) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

/// True when no byte arrives within ms.
bool lineStaysQuietFor(modbus_t* ctx, int ms) {
    const int fd = modbus_get_socket(ctx);
    if (fd < 0) {
        return true;
    }
    const auto start = Clock::now();
    while (true) {
        const int left = ms - elapsedMs(start);
        if (left <= 0) {
            return true;
        }
        pollfd pfd{fd, POLLIN, 0};
        const int rc = poll(&pfd, 1, left);
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        return rc <= 0 || (pfd.revents & POLLIN) == 0;
    }
}

/// Reads and discards until the line has been silent for kQuietMs; returns true if anything came.
bool letLineFallQuiet(modbus_t* ctx) {
    const int fd = modbus_get_socket(ctx);
    if (fd < 0) {
        return false;
    }
    const auto start = Clock::now();
    bool received = false;
    unsigned char scratch[256];
    while (true) {
        const int left = kSettleLimitMs - elapsedMs(start);
        if (left <= 0) {
            break;
        }
        pollfd pfd{fd, POLLIN, 0};
        const int rc = poll(&pfd, 1, left < kQuietMs ? left : kQuietMs);
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc <= 0 || (pfd.revents & POLLIN) == 0) {
            break;
        }
        if (read(fd, scratch, sizeof scratch) <= 0) {
            break;
        }
        received = true;
    }
    tcflush(fd, TCIFLUSH);
    return received;
}

bool isExceptionReply(int error) { return error > MODBUS_ENOBASE && error <= EMBXGTAR; }

/// The open link for port, ready to talk to slave, or nullptr when the call must fail at once.
Link* prepare(int32_t port, int32_t slave) {
    const auto it = g_links.find(port);
    if (it == g_links.end() || it->second.ctx == nullptr) {
        return nullptr;
    }
    if (slave < kMinSlave || slave > kMaxSlave) {
        return nullptr;
    }
    if (modbus_set_slave(it->second.ctx, slave) != 0) {
        return nullptr;
    }
    // Whatever is already waiting belongs to an earlier request.
    modbus_flush(it->second.ctx);
    it->second.sent = Clock::now();
    return &it->second;
}

/// Judges one exchange. After a failure the line is drained, and the first answer after it is
/// taken only once the line stays quiet long enough: a meter answers in order, so if that answer
/// belonged to an older request, this request's own answer follows within the older one's delay.
bool finish(Link& link, int rc) {
    if (rc < 0) {
        if (isExceptionReply(errno)) {
            return false;
        }
        if (!link.suspect) {
            link.suspect = true;
            link.oldestUnanswered = link.sent;
        }
        letLineFallQuiet(link.ctx);
        return false;
    }
    if (link.suspect) {
        const int window = std::min(elapsedMs(link.oldestUnanswered), kConfirmLimitMs);
        if (!lineStaysQuietFor(link.ctx, window)) {
            letLineFallQuiet(link.ctx);
            return false;
        }
        link.suspect = false;
    }
    return true;
}

bool validBlock(int32_t first, int count) {
    return first >= 1 && first - 1 + count <= kMaxRegister;
}

} // namespace

extern "C" {

int32_t OpenPort_Modbus(int32_t port, int32_t baudChoice, int32_t parityChoice) {
    static constexpr int kBauds[] = {4800, 9600, 19200};
    static constexpr char kParities[] = {'N', 'O', 'E'};
    if (port < 1 || baudChoice < 0 || baudChoice > 2 || parityChoice < 0 || parityChoice > 2) {
        return -1;
    }
    std::lock_guard lock(g_mutex);
    if (const auto it = g_links.find(port); it != g_links.end()) {
        closeLink(it->second);
        g_links.erase(it);
    }
    const std::string path = devicePath(port);
    modbus_t* ctx = modbus_new_rtu(path.c_str(), kBauds[baudChoice], kParities[parityChoice], 8, 1);
    if (ctx == nullptr) {
        return -1;
    }
    modbus_set_error_recovery(ctx, MODBUS_ERROR_RECOVERY_NONE);
    modbus_set_response_timeout(ctx, 0, kResponseTimeoutUs);
    modbus_set_byte_timeout(ctx, 0, kByteTimeoutUs);
    if (modbus_connect(ctx) != 0) {
        modbus_free(ctx);
        return -1;
    }
    modbus_flush(ctx);
    g_links[port].ctx = ctx;
    return 0;
}

int32_t ClosePort_Modbus(int32_t port) {
    std::lock_guard lock(g_mutex);
    const auto it = g_links.find(port);
    if (it == g_links.end()) {
        return -1;
    }
    closeLink(it->second);
    g_links.erase(it);
    return 0;
}

int32_t Get_0X_Bit1(int32_t port, int32_t address, int32_t coil) {
    if (!validBlock(coil, 1)) {
        return 0;
    }
    std::lock_guard lock(g_mutex);
    Link* link = prepare(port, address);
    if (link == nullptr) {
        return 0;
    }
    uint8_t bit = 0;
    const int rc = modbus_read_bits(link->ctx, coil - 1, 1, &bit);
    return finish(*link, rc == 1 ? rc : -1) ? bit : 0;
}

int32_t Get_3X_D1(int32_t port, int32_t address, int32_t inputRegister) {
    if (!validBlock(inputRegister, 1)) {
        return 0;
    }
    std::lock_guard lock(g_mutex);
    Link* link = prepare(port, address);
    if (link == nullptr) {
        return 0;
    }
    uint16_t reg = 0;
    const int rc = modbus_read_input_registers(link->ctx, inputRegister - 1, 1, &reg);
    return finish(*link, rc == 1 ? rc : -1) ? static_cast<int16_t>(reg) : 0;
}

float Get_3X_DR8(int32_t port, int32_t address, int32_t firstInputRegister, float* dest) {
    constexpr int kFloats = 8;
    constexpr int kRegs = 2 * kFloats;
    if (dest == nullptr || !validBlock(firstInputRegister, kRegs)) {
        return 0.0f;
    }
    std::lock_guard lock(g_mutex);
    Link* link = prepare(port, address);
    if (link == nullptr) {
        return 0.0f;
    }
    uint16_t regs[kRegs] = {};
    const int rc = modbus_read_input_registers(link->ctx, firstInputRegister - 1, kRegs, regs);
    if (!finish(*link, rc == kRegs ? rc : -1)) {
        return 0.0f;
    }
    for (std::size_t i = 0; i < kFloats; ++i) {
        // High word first, each word big-endian on the wire.
        const uint32_t bits = (static_cast<uint32_t>(regs[2 * i]) << 16) | regs[2 * i + 1];
        std::memcpy(&dest[i], &bits, sizeof bits);
    }
    return dest[0];
}

int32_t Get_4X_D8(int32_t port, int32_t address, int32_t firstHoldingRegister, int32_t* dest) {
    constexpr int kRegs = 8;
    if (dest == nullptr || !validBlock(firstHoldingRegister, kRegs)) {
        return -1;
    }
    std::lock_guard lock(g_mutex);
    Link* link = prepare(port, address);
    if (link == nullptr) {
        return -1;
    }
    uint16_t regs[kRegs] = {};
    const int rc = modbus_read_registers(link->ctx, firstHoldingRegister - 1, kRegs, regs);
    if (!finish(*link, rc == kRegs ? rc : -1)) {
        return -1;
    }
    for (int i = 0; i < kRegs; ++i) {
        dest[i] = static_cast<int16_t>(regs[i]);
    }
    return 0;
}

int32_t Set_4X_D1(int32_t port, int32_t address, int32_t holdingRegister, int32_t value) {
    if (!validBlock(holdingRegister, 1)) {
        return kWriteFailed;
    }
    std::lock_guard lock(g_mutex);
    Link* link = prepare(port, address);
    if (link == nullptr) {
        return kWriteFailed;
    }
    const auto low = static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu);
    const int rc = modbus_write_register(link->ctx, holdingRegister - 1, low);
    return finish(*link, rc == 1 ? rc : -1) ? 0 : kWriteFailed;
}

} // extern "C"
