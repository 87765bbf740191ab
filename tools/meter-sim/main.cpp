// vx310-meter-sim: a Modbus RTU slave on a pseudo-terminal that behaves like the meter.

#include "MeterSlave.h"
#include "PortPath.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kUsageError = 2;
constexpr int kMaxDelayMs = 60000;
// A partial request older than this is line noise.
constexpr auto kFrameGap = std::chrono::milliseconds(20);
constexpr int kIdlePollMs = 200;

struct Options {
    int port = 1;
    std::string device;
    int baud = 9600;
    char parity = 'N';
    bool silent = false;
    int delayMs = 0;
    int failWrites = 0;
    bool wireTime = false;
};

[[noreturn]] void usageError(const std::string& message) {
    std::fprintf(stderr, "vx310-meter-sim: %s\n", message.c_str());
    std::exit(kUsageError);
}

std::optional<int> parseInt(std::string_view text, int low, int high) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<char> parseParity(std::string_view text) {
    if (text == "none") {
        return 'N';
    }
    if (text == "odd") {
        return 'O';
    }
    if (text == "even") {
        return 'E';
    }
    return std::nullopt;
}

Options parseOptions(int argc, char** argv) {
    Options o;
    bool portGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= argc) {
                usageError("option " + std::string(arg) + " needs a value");
            }
            return argv[++i];
        };
        if (arg == "--port") {
            const auto v = parseInt(value(), 1, 999);
            if (!v) {
                usageError("--port wants a number from 1 to 999");
            }
            o.port = *v;
            portGiven = true;
        } else if (arg == "--device") {
            o.device = value();
            if (o.device.empty()) {
                usageError("--device wants a path");
            }
        } else if (arg == "--baud") {
            const std::string_view v = value();
            if (v != "4800" && v != "9600" && v != "19200") {
                usageError("--baud wants 4800, 9600 or 19200");
            }
            o.baud = *parseInt(v, 0, 19200);
        } else if (arg == "--parity") {
            const auto v = parseParity(value());
            if (!v) {
                usageError("--parity wants none, odd or even");
            }
            o.parity = *v;
        } else if (arg == "--silent") {
            o.silent = true;
        } else if (arg == "--delay") {
            const auto v = parseInt(value(), 0, kMaxDelayMs);
            if (!v) {
                usageError("--delay wants milliseconds from 0 to 60000");
            }
            o.delayMs = *v;
        } else if (arg == "--fail-writes") {
            const auto v = parseInt(value(), 0, 1000000);
            if (!v) {
                usageError("--fail-writes wants a count of writes");
            }
            o.failWrites = *v;
        } else if (arg == "--wire-time") {
            o.wireTime = true;
        } else if (arg == "--help" || arg == "-h") {
            std::printf("usage: vx310-meter-sim [--port N | --device PATH] [--baud 4800|9600|19200]"
                        " [--parity none|odd|even] [--silent] [--delay MS] [--fail-writes N]"
                        " [--wire-time]\n"
                        "stdin commands: silent on|off, delay MS, fail-writes N\n");
            std::exit(0);
        } else {
            usageError("unknown argument " + std::string(arg) + " (try --help)");
        }
    }
    if (portGiven && !o.device.empty()) {
        usageError("give either --port or --device, not both");
    }
    return o;
}

speed_t speedOf(int baud) { return baud == 4800 ? B4800 : baud == 19200 ? B19200 : B9600; }

tcflag_t parityFlags(char parity) {
    return parity == 'E' ? PARENB : parity == 'O' ? (PARENB | PARODD) : 0;
}

bool configureLine(int fd, const Options& o) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CSTOPB | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD | parityFlags(o.parity);
    if (o.parity != 'N') {
        tio.c_iflag |= INPCK;
    }
    cfsetispeed(&tio, speedOf(o.baud));
    cfsetospeed(&tio, speedOf(o.baud));
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

/// On a pty both ends share one termios; a master speaking other settings sends only noise.
/// A pty drops PARENB, so parity shows only through the input parity check flag.
bool settingsMatch(int masterFd, const Options& o) {
    termios tio{};
    if (tcgetattr(masterFd, &tio) != 0) {
        return true;
    }
    return cfgetospeed(&tio) == speedOf(o.baud) &&
           ((tio.c_iflag & INPCK) != 0) == (o.parity != 'N');
}

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "vx310-meter-sim: %s\n", message.c_str());
    std::exit(1);
}

class Simulator {
  public:
    Simulator(Options options, int lineFd, bool checkSettings)
        : m_options(std::move(options)), m_fd(lineFd), m_checkSettings(checkSettings) {
        metersim::HoldingRegs regs = metersim::defaultHoldingRegs();
        regs[metersim::kBaud] = m_options.baud == 4800 ? 0 : m_options.baud == 9600 ? 1 : 2;
        regs[metersim::kParity] = m_options.parity == 'N' ? 0 : m_options.parity == 'O' ? 1 : 2;
        m_slave = metersim::MeterSlave(regs);
        m_slave.failNextWrites(m_options.failWrites);
    }

    void run(int signalFd);

  private:
    static double now();
    Clock::duration wireTime(std::size_t bytes) const;
    void onLineReadable();
    void takeRequests();
    void sendPending();
    void onCommand(const std::string& line);
    void readStdin();

    Options m_options;
    int m_fd;
    bool m_checkSettings;
    metersim::MeterSlave m_slave;
    std::vector<uint8_t> m_rx;
    Clock::time_point m_lastByte{};
    metersim::Frame m_pending;
    Clock::time_point m_due{};
    bool m_stdinOpen = true;
    std::string m_stdinBuffer;
};

double Simulator::now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

/// Time the bytes would take on a real line; a pty alone moves them at once.
Clock::duration Simulator::wireTime(std::size_t bytes) const {
    if (!m_options.wireTime) {
        return Clock::duration::zero();
    }
    const int bitsPerByte = m_options.parity == 'N' ? 10 : 11;
    return std::chrono::microseconds(1000000LL * bitsPerByte * static_cast<long long>(bytes) /
                                     m_options.baud);
}

void Simulator::onLineReadable() {
    uint8_t buf[512];
    while (true) {
        const ssize_t n = read(m_fd, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        if (m_checkSettings && !settingsMatch(m_fd, m_options)) {
            continue;
        }
        m_rx.insert(m_rx.end(), buf, buf + n);
        m_lastByte = Clock::now();
    }
}

void Simulator::takeRequests() {
    // One request at a time: later ones wait until the pending reply has gone out.
    while (m_pending.empty() && !m_rx.empty()) {
        const int length = metersim::requestLength(m_rx);
        const bool quiet = Clock::now() - m_lastByte > kFrameGap;
        std::size_t take = 0;
        if (length > 0 && static_cast<std::size_t>(length) <= m_rx.size()) {
            take = static_cast<std::size_t>(length);
        } else if (quiet) {
            // A function we cannot size ends where the line goes quiet.
            take = length < 0 ? m_rx.size() : 0;
        } else {
            return;
        }
        if (take < 4 || metersim::crc16(std::span(m_rx).first(take - 2)) !=
                            (m_rx[take - 2] | (m_rx[take - 1] << 8))) {
            m_rx.clear();
            return;
        }
        const auto end = m_rx.begin() + static_cast<std::ptrdiff_t>(take);
        const metersim::Frame request(m_rx.begin(), end);
        m_rx.erase(m_rx.begin(), end);
        if (m_options.silent) {
            continue;
        }
        m_slave.update(now());
        m_pending = m_slave.handle(request);
        m_due = Clock::now() + std::chrono::milliseconds(m_options.delayMs) +
                wireTime(request.size() + m_pending.size());
        if (!m_pending.empty() && m_due <= Clock::now()) {
            sendPending();
        }
    }
}

void Simulator::sendPending() {
    std::size_t sent = 0;
    while (sent < m_pending.size()) {
        const ssize_t n = write(m_fd, m_pending.data() + sent, m_pending.size() - sent);
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            break;
        }
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        }
    }
    m_pending.clear();
}

void Simulator::onCommand(const std::string& line) {
    const auto space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    if (word == "silent" && (arg == "on" || arg == "off")) {
        m_options.silent = arg == "on";
    } else if (word == "delay" && parseInt(arg, 0, kMaxDelayMs)) {
        m_options.delayMs = *parseInt(arg, 0, kMaxDelayMs);
    } else if (word == "fail-writes" && parseInt(arg, 0, 1000000)) {
        m_slave.failNextWrites(*parseInt(arg, 0, 1000000));
    } else {
        std::fprintf(stderr, "vx310-meter-sim: unknown command: %s\n", line.c_str());
        return;
    }
    std::printf("ok %s\n", line.c_str());
    std::fflush(stdout);
}

void Simulator::readStdin() {
    char buf[256];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
        // Losing stdin is not a reason to stop serving the line.
        m_stdinOpen = false;
        return;
    }
    m_stdinBuffer.append(buf, static_cast<std::size_t>(n));
    std::size_t end = 0;
    while ((end = m_stdinBuffer.find('\n')) != std::string::npos) {
        std::string line = m_stdinBuffer.substr(0, end);
        m_stdinBuffer.erase(0, end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        if (!line.empty()) {
            onCommand(line);
        }
    }
}

void Simulator::run(int signalFd) {
    while (true) {
        pollfd fds[3] = {{signalFd, POLLIN, 0}, {m_fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        int timeout = kIdlePollMs;
        if (!m_pending.empty()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(m_due - Clock::now()).count();
            timeout = static_cast<int>(left < 0 ? 0 : left);
        } else if (!m_rx.empty()) {
            timeout = static_cast<int>(kFrameGap.count());
        }
        const nfds_t count = m_stdinOpen ? 3 : 2;
        const int rc = poll(fds, count, timeout);
        if (rc < 0 && errno != EINTR) {
            fail(std::string("poll: ") + std::strerror(errno));
        }
        if ((fds[0].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            onLineReadable();
        }
        if (m_stdinOpen && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            readStdin();
        }
        if (!m_pending.empty() && Clock::now() >= m_due) {
            sendPending();
        }
        takeRequests();
        m_slave.update(now());
    }
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);

    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    const int signalFd = signalfd(-1, &mask, SFD_CLOEXEC);
    std::signal(SIGPIPE, SIG_IGN);

    int lineFd = -1;
    int slaveFd = -1;
    std::string announced;
    fs::path link;
    std::string slaveName;
    if (!options.device.empty()) {
        lineFd = open(options.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (lineFd < 0 || !configureLine(lineFd, options)) {
            fail("cannot open " + options.device + ": " + std::strerror(errno));
        }
        announced = options.device;
    } else {
        lineFd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (lineFd < 0 || grantpt(lineFd) != 0 || unlockpt(lineFd) != 0) {
            fail(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
        }
        slaveName = ptsname(lineFd);
        // Holding the far end open keeps the master readable between clients.
        slaveFd = open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slaveFd < 0 || !configureLine(slaveFd, options)) {
            fail("cannot open " + slaveName + ": " + std::strerror(errno));
        }
        link = modbus485::portLinkPath(options.port);
        const fs::path dir = link.parent_path();
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (fs::exists(fs::symlink_status(link)) && !fs::is_symlink(fs::symlink_status(link))) {
            fail(link.string() + " exists and is not a link");
        }
        const fs::path temp = link.string() + ".new" + std::to_string(getpid());
        fs::create_symlink(slaveName, temp, ec);
        if (!ec) {
            fs::rename(temp, link, ec);
        }
        if (ec) {
            fail("cannot link " + link.string() + ": " + ec.message());
        }
        announced = link.string();
    }

    Simulator sim(options, lineFd, slaveFd >= 0);
    std::printf("ready %s\n", announced.c_str());
    std::fflush(stdout);
    sim.run(signalFd);

    if (!link.empty()) {
        std::error_code ec;
        // Another simulator may have taken the name over meanwhile.
        if (fs::read_symlink(link, ec) == slaveName) {
            fs::remove(link, ec);
        }
    }
    return 0;
}
