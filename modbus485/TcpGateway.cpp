#include "TcpGateway.h"

#include "Frame.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace modbus485 {
namespace {

// Transaction, protocol and length fields, then the unit identifier.
constexpr std::size_t kMbapHeaderBytes = 7;
constexpr std::size_t kMbapLengthAt = 4;
// The length field counts the unit identifier and the PDU, which holds at most 253 bytes.
constexpr std::size_t kMaxMbapLength = 1 + 253;
constexpr std::size_t kCrcBytes = 2;
constexpr std::size_t kRecentRequests = 16;

/// Whole milliseconds from now until until, at least 0: what poll is given.
int pollMs(Transport::TimePoint until) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    return std::max(0, static_cast<int>(left.count()));
}

// --- The socket calls, which differ between Winsock and the rest only in spelling ---

#ifdef _WIN32
SOCKET socketOf(int fd) { return static_cast<SOCKET>(fd); }

/// Waits at most ms for the socket to take bytes (forWrite) or to have some.
void waitOn(int fd, bool forWrite, int ms) {
    WSAPOLLFD pfd{socketOf(fd), static_cast<SHORT>(forWrite ? POLLWRNORM : POLLRDNORM), 0};
    WSAPoll(&pfd, 1, ms);
}

/// Bytes sent, 0 when the socket takes none now, -1 when the connection failed.
long trySend(int fd, std::span<const std::uint8_t> bytes) {
    const int n = ::send(socketOf(fd), reinterpret_cast<const char*>(bytes.data()),
                         static_cast<int>(bytes.size()), 0);
    if (n >= 0) {
        return n;
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

/// Bytes read, 0 when none are there now, -1 when the connection is closed or failed.
long tryRecv(int fd, std::uint8_t* buf, std::size_t size) {
    const int n = ::recv(socketOf(fd), reinterpret_cast<char*>(buf), static_cast<int>(size), 0);
    if (n > 0) {
        return n;
    }
    return n < 0 && WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}
#else
void waitOn(int fd, bool forWrite, int ms) {
    pollfd pfd{fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    ::poll(&pfd, 1, ms);
}

long trySend(int fd, std::span<const std::uint8_t> bytes) {
    while (true) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            return n;
        }
        if (errno != EINTR) {
            return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
        }
    }
}

long tryRecv(int fd, std::uint8_t* buf, std::size_t size) {
    while (true) {
        const ssize_t n = ::recv(fd, buf, size, MSG_DONTWAIT);
        if (n > 0) {
            return n;
        }
        if (n == 0 || errno != EINTR) {
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
        }
    }
}
#endif

std::uint16_t be16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

} // namespace

bool TcpGateway::open(const LineSettings& /*settings*/) {
    close();
    m_open = true;
    return true;
}

void TcpGateway::close() {
    disconnect();
    m_open = false;
}

void TcpGateway::disconnect() {
    if (m_ctx != nullptr) {
        modbus_close(m_ctx);
        modbus_free(m_ctx);
    }
    m_ctx = nullptr;
    m_fd = -1;
    m_stream.clear();
}

bool TcpGateway::connect(TimePoint deadline) {
    const int ms = pollMs(deadline);
    if (ms <= 0) {
        return false;
    }
    const std::string service = std::to_string(m_target.tcpPort);
    modbus_t* ctx = modbus_new_tcp_pi(m_target.host.c_str(), service.c_str());
    if (ctx == nullptr) {
        return false;
    }
    // libmodbus connects without blocking and waits for the handshake this long at most.
    modbus_set_response_timeout(ctx, static_cast<std::uint32_t>(ms / 1000),
                                static_cast<std::uint32_t>(ms % 1000) * 1000);
    if (modbus_connect(ctx) != 0) {
        modbus_free(ctx);
        return false;
    }
    m_ctx = ctx;
    m_fd = modbus_get_socket(ctx);
    return true;
}

bool TcpGateway::sendAll(std::span<const std::uint8_t> bytes, TimePoint deadline) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const long n = trySend(m_fd, bytes.subspan(sent));
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        const int ms = pollMs(deadline);
        if (n < 0 || ms <= 0) {
            return false;
        }
        waitOn(m_fd, true, ms);
    }
    return true;
}

bool TcpGateway::write(std::span<const std::uint8_t> frame, TimePoint deadline) {
    if (!m_open || frame.size() < 1 + kCrcBytes) {
        return false;
    }
    if (m_ctx == nullptr && !connect(deadline)) {
        return false;
    }
    bool sent = false;
    if (m_target.kind == PortTarget::Kind::RtuOverTcp) {
        sent = sendAll(frame, deadline);
    } else {
        // The MBAP header takes the place of the CRC; the address becomes the unit identifier.
        const std::size_t length = frame.size() - kCrcBytes;
        ++m_transaction;
        std::vector<std::uint8_t> adu = {static_cast<std::uint8_t>(m_transaction >> 8),
                                         static_cast<std::uint8_t>(m_transaction & 0xFF),
                                         0,
                                         0,
                                         static_cast<std::uint8_t>(length >> 8),
                                         static_cast<std::uint8_t>(length & 0xFF)};
        adu.insert(adu.end(), frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length));
        sent = sendAll(adu, deadline);
        m_recent.push_back({m_transaction, std::chrono::steady_clock::now()});
        if (m_recent.size() > kRecentRequests) {
            m_recent.pop_front();
        }
    }
    if (!sent) {
        // Half a frame in the stream would garble every later one.
        disconnect();
    }
    return sent;
}

void TcpGateway::readUntil(TimePoint until, std::vector<std::uint8_t>& into) {
    if (m_ctx == nullptr) {
        // Nothing can come without a connection; the wait is slept, not spun.
        std::this_thread::sleep_until(until);
        return;
    }
    waitOn(m_fd, false, pollMs(until));
    std::uint8_t buf[512];
    long n = 0;
    while ((n = tryRecv(m_fd, buf, sizeof buf)) > 0) {
        if (m_target.kind == PortTarget::Kind::RtuOverTcp) {
            into.insert(into.end(), buf, buf + n);
        } else {
            m_stream.insert(m_stream.end(), buf, buf + n);
        }
    }
    unwrapAnswers(into);
    if (n < 0) {
        // The gateway closed the connection: what was on its way is gone with it.
        disconnect();
    }
}

/// Hands on, as RTU frames, the whole MBAP answers to the latest request; answers to earlier
/// requests are dropped by their transaction identifier.
void TcpGateway::unwrapAnswers(std::vector<std::uint8_t>& into) {
    while (m_stream.size() >= kMbapHeaderBytes) {
        const std::size_t length = be16(m_stream, kMbapLengthAt);
        if (be16(m_stream, 2) != 0 || length < 2 || length > kMaxMbapLength) {
            // Not MBAP: nothing later in this stream can be trusted to start a frame.
            m_stream.clear();
            if (m_ctx != nullptr) {
                disconnect();
            }
            return;
        }
        const std::size_t whole = kMbapHeaderBytes - 1 + length;
        if (m_stream.size() < whole) {
            return;
        }
        const std::uint16_t transaction = be16(m_stream, 0);
        if (transaction != m_transaction) {
            for (const Sent& request : m_recent) {
                if (request.transaction == transaction) {
                    m_droppedLateness = static_cast<int>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - request.at)
                            .count());
                }
            }
        } else {
            const auto first = m_stream.begin() + static_cast<std::ptrdiff_t>(kMbapHeaderBytes - 1);
            const auto last = m_stream.begin() + static_cast<std::ptrdiff_t>(whole);
            const std::size_t at = into.size();
            into.insert(into.end(), first, last);
            const std::uint16_t crc =
                crc16(std::span<const std::uint8_t>(into).subspan(at, length));
            into.push_back(static_cast<std::uint8_t>(crc & 0xFF));
            into.push_back(static_cast<std::uint8_t>(crc >> 8));
        }
        m_stream.erase(m_stream.begin(), m_stream.begin() + static_cast<std::ptrdiff_t>(whole));
    }
}

std::optional<int> TcpGateway::takeDroppedLateness() {
    return std::exchange(m_droppedLateness, std::nullopt);
}

} // namespace modbus485
