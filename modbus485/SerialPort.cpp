#include "SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace modbus485 {
namespace {

/// A pseudo-terminal's far end stays with its owner (the simulator) across our closes, and so would
/// an exclusive flag left on it by a master that died; the flock alone guards it.
bool isPseudoTerminal(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr &&
           std::strncmp(resolved, "/dev/pts/", 9) == 0;
}

/// Whole milliseconds from now until until, at least 1: what poll is given.
int pollMs(Transport::TimePoint until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    return std::max(1, static_cast<int>(left.count()));
}

} // namespace

bool SerialPort::open(const LineSettings& settings) {
    close();
    const std::string& path = m_device;
    modbus_t* ctx = modbus_new_rtu(path.c_str(), settings.baud, settings.parity, 8, 1);
    if (ctx == nullptr) {
        return false;
    }
    if (modbus_connect(ctx) != 0) {
        modbus_free(ctx);
        return false;
    }
    const int fd = modbus_get_socket(ctx);
    // Reads take what is there and never wait; the waiting is done by poll against the budget.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        (!isPseudoTerminal(path) && ioctl(fd, TIOCEXCL) != 0)) {
        modbus_close(ctx);
        modbus_free(ctx);
        return false;
    }
    m_ctx = ctx;
    m_fd = fd;
    return true;
}

bool SerialPort::isOpen() const { return m_ctx != nullptr; }

void SerialPort::close() {
    if (m_ctx == nullptr) {
        return;
    }
    if (m_fd >= 0) {
        ioctl(m_fd, TIOCNXCL);
    }
    modbus_close(m_ctx);
    modbus_free(m_ctx);
    m_ctx = nullptr;
    m_fd = -1;
}

bool SerialPort::write(std::span<const std::uint8_t> frame, TimePoint deadline) {
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::write(m_fd, frame.data() + sent, frame.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        pollfd pfd{m_fd, POLLOUT, 0};
        poll(&pfd, 1, pollMs(deadline));
    }
    return true;
}

void SerialPort::readUntil(TimePoint until, std::vector<std::uint8_t>& into) {
    if (std::chrono::steady_clock::now() < until) {
        pollfd pfd{m_fd, POLLIN, 0};
        poll(&pfd, 1, pollMs(until));
    }
    std::uint8_t buf[256];
    ssize_t n = 0;
    while ((n = ::read(m_fd, buf, sizeof buf)) > 0) {
        into.insert(into.end(), buf, buf + n);
    }
}

} // namespace modbus485
