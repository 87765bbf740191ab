#include "modbus485.h"

#include "Frame.h"
#include "RequestTracker.h"
#include "PortTarget.h"
#include "SerialPort.h"
#include "TcpGateway.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <utility>

using namespace modbus485;

namespace {

constexpr int32_t kWriteFailed = -8888;
constexpr int kMaxRegister = 65536;

// --- The port table ---

struct Link {
    std::unique_ptr<Transport> transport;
    int baud = 9600;
    int bitsPerByte = 10;
    RequestTracker tracker;
    // The scalar reads' last values by function, address and coil or register.
    std::map<std::tuple<uint8_t, int32_t, int32_t>, int32_t> lastScalar;
};

std::mutex g_mutex;
std::map<int32_t, Link> g_links;

/// The kind of line port N talks over: the one place another kind would be chosen.
/// The line port N reaches, as its port file says now; nothing when no open could use it.
std::unique_ptr<Transport> transportFor(int32_t port) {
    PortTarget target = portTarget(port);
    switch (target.kind) {
    case PortTarget::Kind::Serial:
        return std::make_unique<SerialPort>(target.device);
    case PortTarget::Kind::ModbusTcp:
    case PortTarget::Kind::RtuOverTcp:
        return std::make_unique<TcpGateway>(std::move(target));
    case PortTarget::Kind::Invalid:
        break;
    }
    return nullptr;
}

bool isOpen(const Link& link) { return link.transport && link.transport->isOpen(); }

void closeLine(Link& link) {
    if (link.transport) {
        link.transport->close();
    }
    link.tracker.lineClosed();
}

// --- One exchange ---

int wireMs(const Link& link, std::size_t bytes) {
    if (!link.transport->takesWireTime()) {
        return 0;
    }
    const long long bits = static_cast<long long>(bytes) * link.bitsPerByte;
    return static_cast<int>((bits * 1000 + link.baud - 1) / link.baud);
}

/// Takes in whatever the line brings by until.
void takeIn(Link& link, Clock::time_point until) {
    Bytes bytes;
    link.transport->readUntil(until, bytes);
    link.tracker.take(bytes, Clock::now());
}

/// Waits for the line until deadline, at most; false once it has passed.
bool waitForLine(Link& link, Clock::time_point deadline) {
    const auto now = Clock::now();
    if (now >= deadline) {
        return false;
    }
    takeIn(link, link.tracker.nextLook(now, deadline));
    return true;
}

/// Sends frame and keeps it among the unsettled requests; its id, or nothing when it could not be
/// written by deadline.
std::optional<uint64_t> send(Link& link, const RequestFrame& frame, const Shape& answer,
                             std::size_t answerBytes, Clock::time_point deadline) {
    const auto sent = Clock::now();
    if (!link.transport->write(frame, deadline)) {
        return std::nullopt;
    }
    return link.tracker.track(answer, wireMs(link, kRequestBytes + answerBytes), sent);
}

/// One exchange of the call: its request once no older request could answer in its place, after a
/// sync if need be. The answer frame, or nothing on no answer or an exception answer.
std::optional<Bytes> exchange(Link& link, const RequestFrame& request, const Shape& answer,
                              std::size_t answerBytes) {
    const auto start = Clock::now();
    RequestTracker& tracker = link.tracker;
    takeIn(link, start);
    const uint8_t slave = request[0];
    int budget = tracker.timeoutMs() + wireMs(link, kRequestBytes + answerBytes);
    if (tracker.conflicts(answer)) {
        const std::size_t syncAnswer = kReadFraming + 2 * std::size_t{kSyncs.front().count};
        budget += wireMs(link, kRequestBytes + syncAnswer);
    }
    const auto deadline = start + std::chrono::milliseconds(budget);
    tracker.startCall();
    bool syncSent = false;
    bool sentAny = false;
    do {
        if (!tracker.awaiting() && tracker.mayAsk(Clock::now())) {
            if (!tracker.conflicts(answer)) {
                const auto id = send(link, request, answer, answerBytes, deadline);
                if (!id) {
                    break;
                }
                tracker.await(*id);
                sentAny = true;
            } else if (const auto sync = tracker.syncFor(answer); sync && !syncSent) {
                // Until its answer is in, an older request could answer in this one's place.
                send(link, requestFrame(slave, sync->function, 0, sync->count),
                     syncShape(slave, *sync), kReadFraming + 2 * std::size_t{sync->count},
                     deadline);
                syncSent = true;
                sentAny = true;
            }
        }
        if (tracker.answered() || (sentAny && link.transport->lost())) {
            break;
        }
    } while (waitForLine(link, deadline));
    if (link.transport->answersMatched()) {
        if (const auto late = link.transport->takeDroppedLateness()) {
            tracker.lateAnswerDropped(*late);
        }
        tracker.forgetUnsettled();
    }
    return tracker.finishCall();
}

// --- Block and scalar reads ---

/// The open link for port, ready to talk to slave, or nullptr when the call must fail at once.
Link* openLink(int32_t port, int32_t slave) {
    const auto it = g_links.find(port);
    if (it == g_links.end() || !isOpen(it->second)) {
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
    const std::size_t bytes = dataBytes(function, count);
    const auto frame =
        exchange(*link, requestFrame(slave, function, first - 1, count),
                 Shape{slave, function, static_cast<uint32_t>(bytes)}, kReadFraming + bytes);
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

// --- The C API ---

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
    closeLine(link);
    // Chosen at every open, as what the port names may have changed since the last.
    link.transport = transportFor(port);
    if (!link.transport || !link.transport->open(LineSettings{kBauds[baudChoice], kParities[parityChoice]})) {
        return -1;
    }
    link.baud = kBauds[baudChoice];
    link.bitsPerByte = parityChoice == 0 ? 10 : 11;
    link.tracker.lineOpened(Clock::now());
    if (link.transport->answersMatched()) {
        link.tracker.forgetUnsettled();
    }
    return 0;
}

int32_t ClosePort_Modbus(int32_t port) {
    std::lock_guard lock(g_mutex);
    const auto it = g_links.find(port);
    if (it == g_links.end() || !isOpen(it->second)) {
        return -1;
    }
    closeLine(it->second);
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
    const auto request = requestFrame(slave, kWriteRegister, holdingRegister - 1, low);
    const uint32_t echo =
        (static_cast<uint32_t>(holdingRegister - 1) << 16) | static_cast<uint32_t>(low);
    return exchange(*link, request, Shape{slave, kWriteRegister, echo}, kRequestBytes)
               ? 0
               : kWriteFailed;
}

} // extern "C"
