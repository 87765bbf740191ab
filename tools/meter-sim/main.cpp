// vx310-meter-sim: a Modbus slave that behaves like the meter, on a pseudo-terminal, a serial
// device, or over TCP as behind a gateway.

#include "DelayPattern.h"
#include "Frame.h"
#include "MeterSlave.h"
#include "PortPath.h"
#include "common/ToolArguments.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <modbus/modbus.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kMaxDelayMs = 60000;
constexpr int kMaxFailWrites = 1000000;
// The line falling quiet this long ends a frame; a partial request older than this is noise.
constexpr int kFrameGapMs = 20;
constexpr int kIdlePollMs = 200;
// What libmodbus has read of a request whose function it cannot size: address, function, CRC.
constexpr std::size_t kUnsizedPart = 4;

/// How the simulator is reached when not over a serial line.
enum class Network { None, ModbusTcp, RtuOverTcp };

struct Options {
    Network network = Network::None;
    std::string host = "127.0.0.1";
    int tcpPort = 0;
    int closeAfter = 0;
    int port = 1;
    std::string device;
    int baud = 9600;
    char parity = 'N';
    bool silent = false;
    bool frozen = false;
    metersim::DelayPattern delay;
    int failWrites = 0;
    bool wireTime = false;
};

[[noreturn]] void usageError(const QString& message) {
    common::printToolError(message);
    std::exit(kExitUsage);
}

[[noreturn]] void fail(const std::string& message) {
    common::printToolError(QString::fromStdString(message));
    std::exit(kExitFailed);
}

/// A plain decimal number from low to high; no sign, no spaces.
std::optional<int> parseInt(std::string_view text, int low, int high) {
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < static_cast<unsigned>(low) ||
        value > static_cast<unsigned>(high)) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

/// The value of an option given at most once, after checking it.
template <typename Check>
std::optional<QString> singleValue(const QCommandLineParser& parser,
                                   const QCommandLineOption& option, Check valid,
                                   const char* complaint) {
    const QStringList values = parser.values(option);
    if (values.size() > 1) {
        usageError(
            QStringLiteral("--%1 given twice (try --help)").arg(option.names().constFirst()));
    }
    if (!values.isEmpty() && !valid(values.constFirst())) {
        usageError(QString::fromLatin1(complaint));
    }
    return values.isEmpty() ? std::nullopt : std::optional<QString>(values.constFirst());
}

std::optional<int> intOption(const QCommandLineParser& parser, const QCommandLineOption& option,
                             int low, int high, const char* complaint) {
    const auto number = [&](const QString& text) {
        return parseInt(text.toStdString(), low, high);
    };
    const auto value = singleValue(
        parser, option, [&](const QString& text) { return number(text).has_value(); }, complaint);
    return value ? number(*value) : std::nullopt;
}

/// HOST:PORT or PORT alone (on loopback), HOST an IPv4 address, PORT 0 for any free one.
std::optional<std::pair<std::string, int>> parseListenAddress(const QString& text) {
    const auto colon = text.lastIndexOf(u':');
    const std::string host =
        colon < 0 ? std::string("127.0.0.1") : text.left(colon).toStdString();
    const auto port = parseInt(text.mid(colon + 1).toStdString(), 0, 65535);
    in_addr address{};
    if (!port || inet_pton(AF_INET, host.c_str(), &address) != 1) {
        return std::nullopt;
    }
    return std::pair(host, *port);
}

std::optional<char> parseParity(const QString& text) {
    if (text == u"none") {
        return 'N';
    }
    if (text == u"odd") {
        return 'O';
    }
    if (text == u"even") {
        return 'E';
    }
    return std::nullopt;
}

/// Options from the command line; a bad one ends the process with one line and status 2, --help
/// and --version with their text.
Options parseOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A Modbus RTU slave that behaves like the meter, on a pseudo-terminal, a serial device "
        "or (as if behind a gateway) a TCP port. While it runs, its standard "
        "input takes the commands: silent on|off, delay MS|MS,MS,...|LO-HI, fail-writes N, "
        "freeze on|off."));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Link <data>/modbus485/comN to a new pseudo-terminal (1-999, default 1)."),
        QStringLiteral("N"));
    const QCommandLineOption deviceOption(QStringLiteral("device"),
                                          QStringLiteral("Serve the serial device PATH instead."),
                                          QStringLiteral("PATH"));
    const QCommandLineOption baudOption(
        QStringLiteral("baud"), QStringLiteral("Line speed: 4800, 9600 (default) or 19200."),
        QStringLiteral("BAUD"));
    const QCommandLineOption parityOption(QStringLiteral("parity"),
                                          QStringLiteral("Parity: none (default), odd or even."),
                                          QStringLiteral("PARITY"));
    const QCommandLineOption silentOption(QStringLiteral("silent"),
                                          QStringLiteral("Answer no request."));
    const QCommandLineOption delayOption(
        QStringLiteral("delay"),
        QStringLiteral("Hold every answer back by MS milliseconds (0-60000); MS,MS,... takes "
                       "the delays in turn, LO-HI one at random in that range. A request that "
                       "comes in meanwhile waits its turn."),
        QStringLiteral("MS"));
    const QCommandLineOption freezeOption(
        QStringLiteral("freeze"),
        QStringLiteral("Keep the readings, energy and relays where they are."));
    const QCommandLineOption failWritesOption(
        QStringLiteral("fail-writes"),
        QStringLiteral("Answer the next N writes with exception 04."), QStringLiteral("N"));
    const QCommandLineOption wireTimeOption(
        QStringLiteral("wire-time"),
        QStringLiteral("Also hold every answer back by the time request and answer would take "
                       "on a real line."));
    const QCommandLineOption tcpOption(
        QStringLiteral("tcp"),
        QStringLiteral("Be a meter behind a Modbus TCP gateway, listening on [HOST:]PORT (an "
                       "IPv4 address, 127.0.0.1 unless given; port 0 takes a free one)."),
        QStringLiteral("HOST:PORT"));
    const QCommandLineOption rtuOverTcpOption(
        QStringLiteral("rtu-over-tcp"),
        QStringLiteral("Be a meter behind a serial server that passes RTU frames over TCP, "
                       "listening on [HOST:]PORT."),
        QStringLiteral("HOST:PORT"));
    const QCommandLineOption closeAfterOption(
        QStringLiteral("close-after"),
        QStringLiteral("Over TCP, close each connection after N answers."), QStringLiteral("N"));
    parser.addOptions({portOption, deviceOption, baudOption, parityOption, silentOption,
                       delayOption, failWritesOption, wireTimeOption, freezeOption, tcpOption,
                       rtuOverTcpOption, closeAfterOption});
    if (!common::parseToolArguments(parser, arguments)) {
        std::exit(kExitUsage);
    }

    Options o;
    const auto port = intOption(parser, portOption, 1, 999, "--port wants a number from 1 to 999");
    o.port = port.value_or(o.port);
    const auto device = singleValue(
        parser, deviceOption, [](const QString& text) { return !text.isEmpty(); },
        "--device wants a path");
    o.device = device.value_or(QString()).toStdString();
    const auto baud = singleValue(
        parser, baudOption,
        [](const QString& text) { return text == u"4800" || text == u"9600" || text == u"19200"; },
        "--baud wants 4800, 9600 or 19200");
    o.baud = baud ? baud->toInt() : o.baud;
    const auto parity = singleValue(
        parser, parityOption, [](const QString& text) { return parseParity(text).has_value(); },
        "--parity wants none, odd or even");
    o.parity = parity ? *parseParity(*parity) : o.parity;
    o.silent = parser.isSet(silentOption);
    const auto delay = singleValue(
        parser, delayOption,
        [](const QString& text) {
            return metersim::DelayPattern::parse(text.toStdString(), kMaxDelayMs).has_value();
        },
        "--delay wants milliseconds from 0 to 60000: MS, MS,MS,... or LO-HI");
    if (delay) {
        o.delay = *metersim::DelayPattern::parse(delay->toStdString(), kMaxDelayMs);
    }
    o.frozen = parser.isSet(freezeOption);
    o.failWrites = intOption(parser, failWritesOption, 0, kMaxFailWrites,
                             "--fail-writes wants a count of writes")
                       .value_or(o.failWrites);
    o.wireTime = parser.isSet(wireTimeOption);
    const auto listenOn = [](const QString& text) { return parseListenAddress(text).has_value(); };
    const auto tcp = singleValue(parser, tcpOption, listenOn,
                                 "--tcp wants [HOST:]PORT, HOST an IPv4 address");
    const auto rtuOverTcp = singleValue(parser, rtuOverTcpOption, listenOn,
                                        "--rtu-over-tcp wants [HOST:]PORT, HOST an IPv4 address");
    if (tcp || rtuOverTcp) {
        o.network = tcp ? Network::ModbusTcp : Network::RtuOverTcp;
        std::tie(o.host, o.tcpPort) = *parseListenAddress(tcp ? *tcp : *rtuOverTcp);
    }
    o.closeAfter = intOption(parser, closeAfterOption, 1, kMaxFailWrites,
                             "--close-after wants a count of answers")
                       .value_or(0);
    if (int(port.has_value()) + int(device.has_value()) + int(tcp.has_value()) +
            int(rtuOverTcp.has_value()) >
        1) {
        usageError(QStringLiteral("give one of --port, --device, --tcp and --rtu-over-tcp"));
    }
    if (o.closeAfter > 0 && o.network == Network::None) {
        usageError(QStringLiteral("--close-after needs --tcp or --rtu-over-tcp"));
    }
    return o;
}

struct ContextFree {
    void operator()(modbus_t* ctx) const { modbus_free(ctx); }
};
using Context = std::unique_ptr<modbus_t, ContextFree>;

/// A context that frames requests and answers on fd; the line itself is opened elsewhere.
Context contextOn(int fd, const std::string& name, const Options& o) {
    Context ctx(o.network == Network::ModbusTcp
                    ? modbus_new_tcp(o.host.c_str(), o.tcpPort)
                    : modbus_new_rtu(name.c_str(), o.baud, o.parity, 8, 1));
    if (!ctx || modbus_set_socket(ctx.get(), fd) != 0) {
        fail("cannot set up libmodbus: " + std::string(modbus_strerror(errno)));
    }
    return ctx;
}

/// The meter's line settings on the far end of the pty, as they read back. Not libmodbus's own
/// setup: a pty ignores PARENB, and glibc fails a libmodbus master's later open with parity when
/// that open then changes nothing, which it would against the very settings libmodbus left.
std::optional<termios> configurePty(int fd, const Options& o) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return std::nullopt;
    }
    const speed_t speed = o.baud == 4800 ? B4800 : o.baud == 19200 ? B19200 : B9600;
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CSTOPB | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    if (o.parity != 'N') {
        tio.c_cflag |= PARENB | (o.parity == 'O' ? PARODD : 0);
        tio.c_iflag |= INPCK;
    }
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (tcsetattr(fd, TCSANOW, &tio) != 0 || tcgetattr(fd, &tio) != 0) {
        return std::nullopt;
    }
    return tio;
}

class Simulator {
  public:
    /// Serves the line lineFd, or with a listening server socket each connection made to it.
    Simulator(Options options, int lineFd, std::string lineName,
              std::optional<termios> ptySettings, int serverFd = -1);

    void run(int signalFd);

  private:
    static double now();
    Context listener() const;
    Clock::duration wireTime(std::size_t bytes) const;
    bool settingsMatch() const;
    metersim::Frame readUntilQuiet();
    void takeRequest();
    void onRequest(std::span<const uint8_t> request);
    void sendPending();
    /// Moves the meter on to the present, unless it is frozen.
    void moveOn();
    void onCommand(const std::string& line);
    void readStdin();
    void acceptClient();
    void dropClient();
    /// The connection was closed by its other end.
    bool clientGone() const;

    Options m_options;
    int m_fd;
    int m_server = -1;
    int m_answersOnConnection = 0;
    std::string m_lineName;
    std::optional<termios> m_ptySettings;
    metersim::MeterSlave m_slave;
    Context m_listen;
    // libmodbus writes each answer into this socket pair, so that the fault switches can hold it back
    // while commands and signals are still served.
    int m_answerPipe[2] = {-1, -1};
    Context m_answer;
    metersim::Frame m_pending;
    Clock::time_point m_due{};
    bool m_stdinOpen = true;
    std::string m_stdinBuffer;
};

metersim::HoldingRegs startRegisters(const Options& o) {
    metersim::HoldingRegs regs = metersim::defaultHoldingRegs();
    regs[metersim::kBaud] = o.baud == 4800 ? 0 : o.baud == 9600 ? 1 : 2;
    regs[metersim::kParity] = o.parity == 'N' ? 0 : o.parity == 'O' ? 1 : 2;
    return regs;
}

Simulator::Simulator(Options options, int lineFd, std::string lineName,
                     std::optional<termios> ptySettings, int serverFd)
    : m_options(std::move(options)), m_fd(lineFd), m_server(serverFd),
      m_lineName(std::move(lineName)), m_ptySettings(ptySettings),
      m_slave(startRegisters(m_options)) {
    m_slave.failNextWrites(m_options.failWrites);
    // Readings from the start, even for a meter frozen from the start.
    m_slave.update(now());
    m_listen = listener();
    // A socket pair rather than a pipe: libmodbus sends a TCP answer with send().
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_answerPipe) != 0) {
        fail(std::string("cannot make a socket pair: ") + std::strerror(errno));
    }
    m_answer = contextOn(m_answerPipe[1], m_lineName, m_options);
    // Before some exception answers libmodbus sleeps this long and flushes its line; the pipe
    // has nothing to settle.
    modbus_set_response_timeout(m_answer.get(), 0, 1);
}

Context Simulator::listener() const {
    Context ctx = contextOn(m_fd, m_lineName, m_options);
    modbus_set_slave(ctx.get(), m_slave.address());
    // Woken only by a readable line, so neither wait need be long.
    modbus_set_indication_timeout(ctx.get(), 0, kFrameGapMs * 1000);
    modbus_set_byte_timeout(ctx.get(), 0, kFrameGapMs * 1000);
    return ctx;
}

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

/// On a pty both ends share one termios; a master speaking other settings sends only noise.
/// A pty drops PARENB, so parity shows only through the input parity check flag.
bool Simulator::settingsMatch() const {
    termios tio{};
    if (!m_ptySettings || tcgetattr(m_fd, &tio) != 0) {
        return true;
    }
    return cfgetospeed(&tio) == cfgetospeed(&*m_ptySettings) &&
           (tio.c_iflag & INPCK) == (m_ptySettings->c_iflag & INPCK);
}

/// What is left on the line until it falls quiet, at most one frame's worth.
metersim::Frame Simulator::readUntilQuiet() {
    metersim::Frame rest;
    pollfd pfd{m_fd, POLLIN, 0};
    while (poll(&pfd, 1, kFrameGapMs) > 0 && (pfd.revents & POLLIN) != 0) {
        uint8_t buf[MODBUS_RTU_MAX_ADU_LENGTH];
        const ssize_t n = read(m_fd, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        if (rest.size() < MODBUS_RTU_MAX_ADU_LENGTH) {
            rest.insert(rest.end(), buf, buf + n);
        }
    }
    return rest;
}

/// libmodbus sizes a request by its function code, and for a function it does not know takes
/// the address, the function and two more bytes as the whole frame.
bool libmodbusSizes(int function) {
    return function <= MODBUS_FC_WRITE_SINGLE_REGISTER ||
           function == MODBUS_FC_WRITE_MULTIPLE_COILS ||
           function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS ||
           function == MODBUS_FC_MASK_WRITE_REGISTER ||
           function == MODBUS_FC_WRITE_AND_READ_REGISTERS;
}

void Simulator::acceptClient() {
    const int fd = accept4(m_server, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    m_fd = fd;
    m_answersOnConnection = 0;
    m_listen = listener();
}

void Simulator::dropClient() {
    close(m_fd);
    m_fd = -1;
    // An answer still held back has nowhere to go now.
    m_pending.clear();
    m_listen = listener();
}

bool Simulator::clientGone() const {
    uint8_t byte = 0;
    const ssize_t n = recv(m_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void Simulator::takeRequest() {
    if (m_server >= 0 && clientGone()) {
        dropClient();
        return;
    }
    if (m_options.network == Network::ModbusTcp) {
        uint8_t request[MODBUS_TCP_MAX_ADU_LENGTH] = {};
        const int length = modbus_receive(m_listen.get(), request);
        if (length < 0) {
            // A stream that is not MBAP cannot be found in step again.
            dropClient();
            return;
        }
        // The gateway passes a request on to the unit it names; only this meter's are answered.
        const int unit = request[modbus_get_header_length(m_listen.get()) - 1];
        if (length > 0 && (unit == m_slave.address() || unit == MODBUS_BROADCAST_ADDRESS)) {
            onRequest(std::span(request, static_cast<std::size_t>(length)));
        }
        return;
    }
    if (!settingsMatch()) {
        readUntilQuiet();
        return;
    }
    uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH] = {};
    const int length = modbus_receive(m_listen.get(), request);
    if (length > 0) {
        onRequest(std::span(request, static_cast<std::size_t>(length)));
        return;
    }
    const int error = errno;
    const bool sized = libmodbusSizes(request[1]);
    if (length == 0) {
        // A request for another address: libmodbus would take the next frame for that slave's
        // answer, but on this line the next frame is the master's next request.
        m_listen = listener();
        if (!sized) {
            readUntilQuiet();
        }
        return;
    }
    // Whatever is left of a frame not taken ends where the line falls quiet; the rest of a request
    // libmodbus could not size still deserves its exception answer.
    const metersim::Frame rest = readUntilQuiet();
    if (error == EMBBADCRC && !sized && !rest.empty()) {
        metersim::Frame frame(request, request + kUnsizedPart);
        frame.insert(frame.end(), rest.begin(), rest.end());
        if (modbus485::crcHolds(frame)) {
            onRequest(frame);
        }
    }
}

void Simulator::moveOn() {
    if (!m_options.frozen) {
        m_slave.update(now());
    }
}

void Simulator::onRequest(std::span<const uint8_t> request) {
    if (m_options.silent) {
        return;
    }
    moveOn();
    m_slave.answer(m_answer.get(), request);
    uint8_t buf[MODBUS_RTU_MAX_ADU_LENGTH];
    ssize_t n = 0;
    while ((n = read(m_answerPipe[0], buf, sizeof buf)) > 0) {
        m_pending.insert(m_pending.end(), buf, buf + n);
    }
    // A write may have moved the meter to another address.
    modbus_set_slave(m_listen.get(), m_slave.address());
    m_due = Clock::now() + std::chrono::milliseconds(m_options.delay.next()) +
            wireTime(request.size() + m_pending.size());
    if (!m_pending.empty() && m_due <= Clock::now()) {
        sendPending();
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
    if (m_server >= 0 && m_options.closeAfter > 0 &&
        ++m_answersOnConnection >= m_options.closeAfter) {
        dropClient();
    }
}

void Simulator::onCommand(const std::string& line) {
    const auto space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    if (word == "silent" && (arg == "on" || arg == "off")) {
        m_options.silent = arg == "on";
    } else if (word == "freeze" && (arg == "on" || arg == "off")) {
        m_options.frozen = arg == "on";
    } else if (auto delay = metersim::DelayPattern::parse(arg, kMaxDelayMs);
               word == "delay" && delay) {
        m_options.delay = std::move(*delay);
    } else if (const auto count = parseInt(arg, 0, kMaxFailWrites);
               word == "fail-writes" && count) {
        m_slave.failNextWrites(*count);
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
        // One request at a time: later ones wait on the line until the pending answer is out.
        const bool waiting = !m_pending.empty();
        const bool listening = m_fd < 0;
        pollfd fds[3] = {{signalFd, POLLIN, 0},
                         {listening ? m_server : m_fd, static_cast<short>(waiting ? 0 : POLLIN),
                          0},
                         {STDIN_FILENO, POLLIN, 0}};
        int timeout = kIdlePollMs;
        if (waiting) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(m_due - Clock::now()).count();
            timeout = static_cast<int>(left < 0 ? 0 : left);
        }
        const nfds_t count = m_stdinOpen ? 3 : 2;
        const int rc = poll(fds, count, timeout);
        if (rc < 0 && errno != EINTR) {
            fail(std::string("poll: ") + std::strerror(errno));
        }
        if ((fds[0].revents & POLLIN) != 0) {
            return;
        }
        if (m_stdinOpen && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            readStdin();
        }
        if (waiting && Clock::now() >= m_due) {
            sendPending();
        }
        if (!waiting && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            if (listening) {
                acceptClient();
            } else {
                takeRequest();
            }
        }
        moveOn();
    }
}

} // namespace

int main(int argc, char** argv) {
    // Blocked before anything can start a thread, so only the signalfd ever sees them.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    const int signalFd = signalfd(-1, &mask, SFD_CLOEXEC);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vx310-meter-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VX310_VERSION));
    const Options options = parseOptions(QCoreApplication::arguments());

    std::string lineName = options.device;
    int lineFd = -1;
    Context device;
    std::optional<termios> ptySettings;
    fs::path link;
    Context server;
    int serverFd = -1;
    if (options.network != Network::None) {
        // libmodbus's own server side listens; the port actually bound is told on "ready".
        server.reset(modbus_new_tcp(options.host.c_str(), options.tcpPort));
        serverFd = server ? modbus_tcp_listen(server.get(), 8) : -1;
        sockaddr_in bound{};
        socklen_t size = sizeof bound;
        if (serverFd < 0 ||
            getsockname(serverFd, reinterpret_cast<sockaddr*>(&bound), &size) != 0) {
            fail("cannot listen on " + options.host + ":" + std::to_string(options.tcpPort) +
                 ": " + std::strerror(errno));
        }
        fcntl(serverFd, F_SETFL, fcntl(serverFd, F_GETFL) | O_NONBLOCK);
        lineName = (options.network == Network::ModbusTcp ? "tcp://" : "rtu-over-tcp://") +
                   options.host + ":" + std::to_string(ntohs(bound.sin_port));
    } else if (!options.device.empty()) {
        device.reset(modbus_new_rtu(lineName.c_str(), options.baud, options.parity, 8, 1));
        if (!device || modbus_connect(device.get()) != 0) {
            fail("cannot open " + lineName + ": " + std::strerror(errno));
        }
        lineFd = modbus_get_socket(device.get());
    } else {
        lineFd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (lineFd < 0 || grantpt(lineFd) != 0 || unlockpt(lineFd) != 0) {
            fail(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
        }
        lineName = ptsname(lineFd);
        // Holding the far end open keeps the master readable between clients.
        const int farEnd = open(lineName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ptySettings = farEnd < 0 ? std::nullopt : configurePty(farEnd, options);
        if (!ptySettings) {
            fail("cannot open " + lineName + ": " + std::strerror(errno));
        }
        link = modbus485::portLinkPath(options.port);
        std::error_code ec;
        fs::create_directories(link.parent_path(), ec);
        if (fs::exists(fs::symlink_status(link)) && !fs::is_symlink(fs::symlink_status(link))) {
            fail(link.string() + " exists and is not a link");
        }
        const fs::path temp = link.string() + ".new" + std::to_string(getpid());
        fs::create_symlink(lineName, temp, ec);
        if (!ec) {
            fs::rename(temp, link, ec);
        }
        if (ec) {
            fail("cannot link " + link.string() + ": " + ec.message());
        }
    }

    Simulator sim(options, lineFd, lineName, ptySettings, serverFd);
    std::printf("ready %s\n", link.empty() ? lineName.c_str() : link.c_str());
    std::fflush(stdout);
    sim.run(signalFd);

    if (!link.empty()) {
        std::error_code ec;
        // Another simulator may have taken the name over meanwhile.
        if (fs::read_symlink(link, ec) == lineName) {
            fs::remove(link, ec);
        }
    }
    return 0;
}
