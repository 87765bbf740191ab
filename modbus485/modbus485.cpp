#include "modbus485.h"

#include "Crc16.h"
#include "PortPath.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr int32_t kWriteFailed = -8888;
constexpr int kBaseTimeoutMs = 200;
constexpr int kTimeoutCapMs = 1500;
// The longest a meter takes over one answer once it has taken the request.
constexpr int kMaxLatenessMs = 3000;
constexpr int kSettleMarginMs = 100;
// A partial frame whose next byte is this late is noise.
constexpr int kByteGapMs = 40;
constexpr int kShrinkAfterCalls = 20;
constexpr int kMinSlave = 1;
constexpr int kMaxSlave = 247;
constexpr int kMaxRegister = 65536;
// Short names for libmodbus's function codes, which the simulator answers by.
constexpr uint8_t kReadCoils = MODBUS_FC_READ_COILS;
constexpr uint8_t kReadHolding = MODBUS_FC_READ_HOLDING_REGISTERS;
constexpr uint8_t kReadInput = MODBUS_FC_READ_INPUT_REGISTERS;
constexpr uint8_t kWriteRegister = MODBUS_FC_WRITE_SINGLE_REGISTER;
constexpr uint8_t kWriteRegisters = MODBUS_FC_WRITE_MULTIPLE_REGISTERS;
constexpr uint8_t kExceptionBit = 0x80;
constexpr std::size_t kRequestBytes = 8;
// Syncs: reads from register 1 of lengths no call of the library uses, shortest first.
struct Sync {
    uint8_t function;
    uint8_t count;
};
constexpr std::array<Sync, 22> kSyncs = {{{kReadHolding, 2},  {kReadInput, 2},   {kReadHolding, 3},
                                          {kReadInput, 3},    {kReadHolding, 4},  {kReadInput, 4},
                                          {kReadHolding, 5},  {kReadInput, 5},    {kReadHolding, 6},
                                          {kReadInput, 6},    {kReadHolding, 7},  {kReadInput, 7},
                                          {kReadInput, 8},    {kReadHolding, 9},  {kReadInput, 9},
                                          {kReadHolding, 10}, {kReadInput, 10},   {kReadHolding, 11},
                                          {kReadInput, 11},   {kReadHolding, 12}, {kReadInput, 12},
                                          {kReadHolding, 13}}};

/// What tells one answer from another on the wire.
struct Shape {
    uint8_t slave = 0;
    uint8_t function = 0;
    // Byte count of a read, register and value of a write's echo, 0 for an exception.
    uint32_t key = 0;
    bool operator==(const Shape&) const = default;
};

struct Request {
    uint64_t id = 0;
    Shape answer;
    Clock::time_point sent;
    int wireMs = 0;
    // Stands for whatever was sent on the line before the port was opened.
    bool unknownPast = false;
};

struct Link {
    modbus_t* ctx = nullptr;
    int baud = 9600;
    int bitsPerByte = 10;
    std::deque<Request> unsettled;
    Bytes received;
    Clock::time_point lastByte{};
    // When an answer last settled a request: the meter is working through what it was sent.
    Clock::time_point lastSettled{};
    uint64_t nextId = 1;
    // The request of the call in progress and its answer once in.
    uint64_t waitingFor = 0;
    std::optional<Bytes> answer;
    int timeoutMs = kBaseTimeoutMs;
    int answeredRun = 0;
    int runLatenessMs = 0;
    // The scalar reads' last values by function, address and coil or register.
    std::map<std::tuple<uint8_t, int32_t, int32_t>, int32_t> lastScalar;
};

std::mutex g_mutex;
std::map<int32_t, Link> g_links;

int msBetween(Clock::time_point from, Clock::time_point to) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count());
}

std::string devicePath(int32_t port) {
    std::string link = modbus485::portLinkPath(port);
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        return link;
    }
    return "/dev/ttyS" + std::to_string(port - 1);
}

/// A pseudo-terminal's far end stays with its owner (the simulator) across our closes, and so would
/// an exclusive flag left on it by a master that died; the flock alone guards it.
bool isPseudoTerminal(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr &&
           std::strncmp(resolved, "/dev/pts/", 9) == 0;
}

void closeDevice(Link& link) {
    if (link.ctx != nullptr) {
        const int fd = modbus_get_socket(link.ctx);
        if (fd >= 0) {
            ioctl(fd, TIOCNXCL);
        }
        modbus_close(link.ctx);
        modbus_free(link.ctx);
        link.ctx = nullptr;
    }
    link.received.clear();
}

int wireMs(const Link& link, std::size_t bytes) {
    const long long bits = static_cast<long long>(bytes) * link.bitsPerByte;
    return static_cast<int>((bits * 1000 + link.baud - 1) / link.baud);
}

/// A write's answer echoes its request; a read's gives a byte count and the data.
bool isWrite(uint8_t function) {
    return function == kWriteRegister || function == kWriteRegisters;
}

/// Length of the answer frame starting at at: 0 while too little is in, -1 if none starts there.
int frameLength(const Bytes& b, std::size_t at) {
    const std::size_t have = b.size() - at;
    if (b[at] < kMinSlave || b[at] > kMaxSlave) {
        return -1;
    }
    if (have < 2) {
        return 0;
    }
    const uint8_t function = b[at + 1];
    const uint8_t plain = function & ~kExceptionBit;
    const bool known =
        plain == kReadCoils || plain == kReadHolding || plain == kReadInput || isWrite(plain);
    if (!known) {
        return -1;
    }
    if ((function & kExceptionBit) != 0) {
        return 5;
    }
    if (isWrite(plain)) {
        return 8;
    }
    return have < 3 ? 0 : 5 + b[at + 2];
}

Shape shapeOf(std::span<const uint8_t> frame) {
    Shape s{frame[0], frame[1], 0};
    if ((s.function & kExceptionBit) != 0) {
        return s;
    }
    if (isWrite(s.function)) {
        s.key = (static_cast<uint32_t>(frame[2]) << 24) | (static_cast<uint32_t>(frame[3]) << 16) |
                (static_cast<uint32_t>(frame[4]) << 8) | frame[5];
    } else {
        s.key = frame[2];
    }
    return s;
}

/// Learns from a request settled by its answer: late ones raise the timeout, a run of answered
/// calls lets it fall back to what they needed.
void learn(Link& link, const Request& r, Clock::time_point now) {
    const int lateness = std::max(0, msBetween(r.sent, now) - r.wireMs);
    if (r.id != link.waitingFor) {
        const int wanted = std::min(kTimeoutCapMs, lateness + lateness / 4 + 20);
        link.timeoutMs = std::max(link.timeoutMs, wanted);
        return;
    }
    link.runLatenessMs = std::max(link.runLatenessMs, lateness);
    if (++link.answeredRun >= kShrinkAfterCalls) {
        const int needed = link.runLatenessMs + link.runLatenessMs / 4 + 20;
        link.timeoutMs = std::clamp(needed, kBaseTimeoutMs, link.timeoutMs);
        link.answeredRun = 0;
        link.runLatenessMs = 0;
    }
}

/// Whether an answer of shape s is r's: what r asked for, or an exception to its function.
bool answers(const Request& r, const Shape& s) {
    return !r.unknownPast &&
           (r.answer == s ||
            s == Shape{r.answer.slave, static_cast<uint8_t>(r.answer.function | kExceptionBit), 0});
}

/// An answer settles the oldest request of its shape and all before it: the meter answers in order.
void settle(Link& link, std::span<const uint8_t> frame, Clock::time_point now) {
    const Shape s = shapeOf(frame);
    const auto match = std::find_if(link.unsettled.begin(), link.unsettled.end(),
                                    [&](const Request& r) { return answers(r, s); });
    if (match == link.unsettled.end()) {
        return;
    }
    const Request r = *match;
    link.unsettled.erase(link.unsettled.begin(), match + 1);
    link.lastSettled = now;
    if (r.id == link.waitingFor) {
        link.answer = Bytes(frame.begin(), frame.end());
    }
    learn(link, r, now);
}

/// How long after r, or after the last byte seen, the meter could still answer it.
int answerLimitMs(const Request& r) {
    return kMaxLatenessMs + r.wireMs + kSettleMarginMs;
}

/// A request the meter would have answered by now, the line having been silent as long, was
/// dropped; so was everything before it.
void dropUnanswerable(Link& link, Clock::time_point now) {
    while (!link.unsettled.empty()) {
        const Request& oldest = link.unsettled.front();
        const auto since = std::max(oldest.sent, link.lastByte);
        if (msBetween(since, now) <= answerLimitMs(oldest)) {
            break;
        }
        link.unsettled.pop_front();
    }
}

/// Takes in whatever the line holds and settles the requests it answers.
void takeIn(Link& link) {
    const int fd = modbus_get_socket(link.ctx);
    uint8_t buf[256];
    ssize_t n = 0;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
        link.received.insert(link.received.end(), buf, buf + n);
        link.lastByte = Clock::now();
    }
    const auto now = Clock::now();
    Bytes& b = link.received;
    std::size_t at = 0;
    while (at < b.size()) {
        const int length = frameLength(b, at);
        if (length < 0) {
            ++at;
            continue;
        }
        const auto size = static_cast<std::size_t>(length);
        if (length == 0 || b.size() - at < size) {
            if (msBetween(link.lastByte, now) < kByteGapMs) {
                break;
            }
            ++at;
            continue;
        }
        const std::span<const uint8_t> frame(b.data() + at, size);
        if (modbus485::crcHolds(frame)) {
            settle(link, frame, now);
            at += size;
        } else {
            ++at;
        }
    }
    b.erase(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(at));
    dropUnanswerable(link, now);
}

/// Waits for the line until deadline, at most; false once it has passed.
bool waitForLine(Link& link, Clock::time_point deadline) {
    const auto now = Clock::now();
    if (now >= deadline) {
        return false;
    }
    int ms = std::max(1, msBetween(now, deadline));
    if (!link.received.empty()) {
        ms = std::min(ms, kByteGapMs);
    }
    pollfd pfd{modbus_get_socket(link.ctx), POLLIN, 0};
    poll(&pfd, 1, ms);
    takeIn(link);
    return true;
}

/// Whether a request may go out now. A meter serves one request at a time: once it is seen
/// answering requests sent before the newest one, another would only queue behind that one and make
/// every answer later, so the call waits for it (it comes within the meter's longest lateness, or
/// not at all). While nothing has been answered since the newest went out, the meter may have
/// dropped it, and asking again is what brings a meter back after silence at once.
bool mayAsk(const Link& link) {
    if (link.unsettled.empty() || link.unsettled.back().unknownPast) {
        return true;
    }
    const Request& newest = link.unsettled.back();
    return link.lastSettled < newest.sent ||
           msBetween(link.lastSettled, Clock::now()) > answerLimitMs(newest);
}

bool conflicts(const Link& link, const Shape& answer) {
    return std::any_of(link.unsettled.begin(), link.unsettled.end(), [&](const Request& r) {
        return r.unknownPast || r.answer == answer;
    });
}

bool writeFrame(Link& link, const std::array<uint8_t, 6>& pdu, Clock::time_point deadline) {
    std::array<uint8_t, kRequestBytes> frame{};
    std::copy(pdu.begin(), pdu.end(), frame.begin());
    const uint16_t crc = modbus485::crc16(pdu);
    frame[6] = static_cast<uint8_t>(crc & 0xFF);
    frame[7] = static_cast<uint8_t>(crc >> 8);
    const int fd = modbus_get_socket(link.ctx);
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = write(fd, frame.data() + sent, frame.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return false;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        pollfd pfd{fd, POLLOUT, 0};
        poll(&pfd, 1, std::max(1, msBetween(now, deadline)));
    }
    return true;
}

/// Sends pdu and keeps it among the unsettled requests; its id, or nothing when it could not be
/// written by deadline.
std::optional<uint64_t> send(Link& link, const std::array<uint8_t, 6>& pdu, Shape answer,
                             std::size_t answerBytes, Clock::time_point deadline) {
    Request r;
    r.id = link.nextId++;
    r.answer = answer;
    r.wireMs = wireMs(link, kRequestBytes + answerBytes);
    r.sent = Clock::now();
    if (!writeFrame(link, pdu, deadline)) {
        return std::nullopt;
    }
    link.unsettled.push_back(r);
    return r.id;
}

Shape syncShape(uint8_t slave, Sync sync) {
    return Shape{slave, sync.function, static_cast<uint32_t>(2 * sync.count)};
}

/// The shortest sync whose answer settles every request that could answer in place of one of
/// answer's shape, preferring one no unsettled request shares, as its answer then settles exactly
/// itself and all before it. An answer settles the oldest unsettled request of its shape, so a
/// sync may share its shape only with requests sent after all of those.
std::optional<Sync> syncFor(const Link& link, const Shape& answer) {
    std::size_t conflicting = 0;
    for (std::size_t i = 0; i < link.unsettled.size(); ++i) {
        const Request& r = link.unsettled[i];
        if (r.unknownPast || r.answer == answer) {
            conflicting = i + 1;
        }
    }
    const auto firstFreeUntil = [&](std::size_t until) -> std::optional<Sync> {
        const auto end = link.unsettled.begin() + static_cast<std::ptrdiff_t>(until);
        for (const Sync sync : kSyncs) {
            const Shape s = syncShape(answer.slave, sync);
            if (std::none_of(link.unsettled.begin(), end, [&](const Request& r) {
                    return !r.unknownPast && r.answer == s;
                })) {
                return sync;
            }
        }
        return std::nullopt;
    };
    const auto fresh = firstFreeUntil(link.unsettled.size());
    return fresh ? fresh : firstFreeUntil(conflicting);
}

std::array<uint8_t, 6> pduOf(uint8_t slave, uint8_t function, int first, int second) {
    return {slave,
            function,
            static_cast<uint8_t>(first >> 8),
            static_cast<uint8_t>(first & 0xFF),
            static_cast<uint8_t>(second >> 8),
            static_cast<uint8_t>(second & 0xFF)};
}

/// One exchange of the call: its request once no older request could answer in its place, after a
/// sync if need be. The answer frame, or nothing on no answer or an exception answer.
std::optional<Bytes> exchange(Link& link, const std::array<uint8_t, 6>& pdu, Shape answer,
                              std::size_t answerBytes) {
    const auto start = Clock::now();
    takeIn(link);
    const uint8_t slave = pdu[0];
    int budget = link.timeoutMs + wireMs(link, kRequestBytes + answerBytes);
    if (conflicts(link, answer)) {
        budget += wireMs(link, kRequestBytes + 5 + 2 * std::size_t{kSyncs.front().count});
    }
    const auto deadline = start + std::chrono::milliseconds(budget);
    link.answer.reset();
    link.waitingFor = 0;
    bool syncSent = false;
    do {
        if (link.waitingFor == 0 && mayAsk(link)) {
            if (!conflicts(link, answer)) {
                const auto id = send(link, pdu, answer, answerBytes, deadline);
                if (!id) {
                    break;
                }
                link.waitingFor = *id;
            } else if (const auto sync = syncFor(link, answer); sync && !syncSent) {
                // Until its answer is in, an older request could answer in this one's place.
                send(link, pduOf(slave, sync->function, 0, sync->count), syncShape(slave, *sync),
                     5 + 2 * std::size_t{sync->count}, deadline);
                syncSent = true;
            }
        }
        if (link.answer) {
            break;
        }
    } while (waitForLine(link, deadline));
    std::optional<Bytes> got = std::move(link.answer);
    link.answer.reset();
    link.waitingFor = 0;
    if (!got || ((*got)[1] & kExceptionBit) != 0) {
        link.answeredRun = 0;
        link.runLatenessMs = 0;
        return std::nullopt;
    }
    return got;
}

/// The open link for port, ready to talk to slave, or nullptr when the call must fail at once.
Link* openLink(int32_t port, int32_t slave) {
    const auto it = g_links.find(port);
    if (it == g_links.end() || it->second.ctx == nullptr) {
        return nullptr;
    }
    if (slave < kMinSlave || slave > kMaxSlave) {
        return nullptr;
    }
    return &it->second;
}

bool validBlock(int32_t first, int count) {
    return first >= 1 && first - 1 + count <= kMaxRegister;
}

/// Reads count coils or registers of function from first; the data bytes of the answer, or
/// nothing.
std::optional<Bytes> readBlock(int32_t port, int32_t address, uint8_t function, int32_t first,
                               int count) {
    Link* link = openLink(port, address);
    if (link == nullptr || !validBlock(first, count)) {
        return std::nullopt;
    }
    const auto slave = static_cast<uint8_t>(address);
    const auto bytes = static_cast<uint32_t>(function == kReadCoils ? (count + 7) / 8 : 2 * count);
    const auto frame = exchange(*link, pduOf(slave, function, first - 1, count),
                                Shape{slave, function, bytes}, 5 + bytes);
    if (!frame) {
        return std::nullopt;
    }
    return Bytes(frame->begin() + 3, frame->end() - 2);
}

/// Register i of a block's data; each is big-endian on the wire.
uint16_t registerAt(const Bytes& data, std::size_t i) {
    return static_cast<uint16_t>((data[2 * i] << 8) | data[2 * i + 1]);
}

/// One coil or input register: the value read, kept for the port, or on failure the value last
/// kept for the same address and number (0 if none).
int32_t readScalar(int32_t port, int32_t address, uint8_t function, int32_t number) {
    const auto it = g_links.find(port);
    if (it == g_links.end()) {
        return 0;
    }
    auto& kept = it->second.lastScalar;
    const auto key = std::tuple{function, address, number};
    const auto data = readBlock(port, address, function, number, 1);
    if (!data) {
        const auto last = kept.find(key);
        return last == kept.end() ? 0 : last->second;
    }
    const int32_t value =
        function == kReadCoils ? (*data)[0] & 1 : static_cast<int16_t>(registerAt(*data, 0));
    kept[key] = value;
    return value;
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
    // A reopen keeps the requests still unanswered and the last values; the timeout is learned
    // afresh.
    Link& link = g_links[port];
    closeDevice(link);
    link.timeoutMs = kBaseTimeoutMs;
    link.answeredRun = 0;
    link.runLatenessMs = 0;
    const std::string path = devicePath(port);
    modbus_t* ctx = modbus_new_rtu(path.c_str(), kBauds[baudChoice], kParities[parityChoice], 8, 1);
    if (ctx == nullptr) {
        return -1;
    }
    if (modbus_connect(ctx) != 0) {
        modbus_free(ctx);
        return -1;
    }
    const int fd = modbus_get_socket(ctx);
    // Reads take what is there and never wait; the waiting is done by poll against the budget.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        (!isPseudoTerminal(path) && ioctl(fd, TIOCEXCL) != 0)) {
        modbus_close(ctx);
        modbus_free(ctx);
        return -1;
    }
    link.ctx = ctx;
    link.baud = kBauds[baudChoice];
    link.bitsPerByte = parityChoice == 0 ? 10 : 11;
    if (link.unsettled.empty()) {
        // Another master may have left answers on their way.
        Request past;
        past.unknownPast = true;
        past.sent = Clock::now();
        link.unsettled.push_back(past);
    }
    return 0;
}

int32_t ClosePort_Modbus(int32_t port) {
    std::lock_guard lock(g_mutex);
    const auto it = g_links.find(port);
    if (it == g_links.end() || it->second.ctx == nullptr) {
        return -1;
    }
    closeDevice(it->second);
    return 0;
}

int32_t Get_0X_Bit1(int32_t port, int32_t address, int32_t coil) {
    std::lock_guard lock(g_mutex);
    return readScalar(port, address, kReadCoils, coil);
}

int32_t Get_3X_D1(int32_t port, int32_t address, int32_t inputRegister) {
    std::lock_guard lock(g_mutex);
    return readScalar(port, address, kReadInput, inputRegister);
}

float Get_3X_DR8(int32_t port, int32_t address, int32_t firstInputRegister, float* dest) {
    constexpr int kFloats = 8;
    constexpr int kRegs = 2 * kFloats;
    if (dest == nullptr) {
        return 0.0f;
    }
    std::lock_guard lock(g_mutex);
    const auto data = readBlock(port, address, kReadInput, firstInputRegister, kRegs);
    if (!data) {
        return 0.0f;
    }
    for (std::size_t i = 0; i < kFloats; ++i) {
        // High word first.
        const uint32_t bits =
            (static_cast<uint32_t>(registerAt(*data, 2 * i)) << 16) | registerAt(*data, 2 * i + 1);
        std::memcpy(&dest[i], &bits, sizeof bits);
    }
    return dest[0];
}

int32_t Get_4X_D8(int32_t port, int32_t address, int32_t firstHoldingRegister, int32_t* dest) {
    constexpr int kRegs = 8;
    if (dest == nullptr) {
        return -1;
    }
    std::lock_guard lock(g_mutex);
    const auto data = readBlock(port, address, kReadHolding, firstHoldingRegister, kRegs);
    if (!data) {
        return -1;
    }
    for (std::size_t i = 0; i < kRegs; ++i) {
        dest[i] = static_cast<int16_t>(registerAt(*data, i));
    }
    return 0;
}

int32_t Set_4X_D1(int32_t port, int32_t address, int32_t holdingRegister, int32_t value) {
    if (!validBlock(holdingRegister, 1)) {
        return kWriteFailed;
    }
    std::lock_guard lock(g_mutex);
    Link* link = openLink(port, address);
    if (link == nullptr) {
        return kWriteFailed;
    }
    const auto slave = static_cast<uint8_t>(address);
    const int low = static_cast<int>(static_cast<uint32_t>(value) & 0xFFFFu);
    const auto pdu = pduOf(slave, kWriteRegister, holdingRegister - 1, low);
    const uint32_t echo = (static_cast<uint32_t>(holdingRegister - 1) << 16) |
                          static_cast<uint32_t>(low);
    return exchange(*link, pdu, Shape{slave, kWriteRegister, echo}, kRequestBytes) ? 0
                                                                                   : kWriteFailed;
}

} // extern "C"
