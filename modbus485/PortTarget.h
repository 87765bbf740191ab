#pragma once

// What a port number reaches: a serial device, or a gateway named in the port's file. Shared by
// the library and vx310-port, so what the tool accepts is what an open understands.

#include "PortPath.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace modbus485 {

struct PortTarget {
    enum class Kind {
        Serial,     ///< `device` is a serial device (or the link to one)
        ModbusTcp,  ///< MBAP frames to `host`:`tcpPort`; the meter address is the unit identifier
        RtuOverTcp, ///< RTU frames with their CRC in a TCP stream to `host`:`tcpPort`
        Invalid,    ///< nothing an open can use; `problem` says why
    };
    Kind kind = Kind::Invalid;
    std::string device;
    std::string host;
    std::uint16_t tcpPort = 0;
    std::string problem;
};

inline constexpr std::string_view kModbusTcpScheme = "tcp://";
inline constexpr std::string_view kRtuOverTcpScheme = "rtu-over-tcp://";
inline constexpr std::uint16_t kModbusTcpDefaultPort = 502;
// A port file names one gateway; anything longer is not one.
inline constexpr std::size_t kMaxPortFileLine = 512;

inline PortTarget invalidTarget(std::string problem) {
    PortTarget target;
    target.problem = std::move(problem);
    return target;
}

/// Reads a gateway's address: `tcp://HOST[:PORT]` or `rtu-over-tcp://HOST:PORT`, HOST a name,
/// an IPv4 address or an IPv6 address in brackets.
inline PortTarget parseGatewayUrl(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    PortTarget target;
    if (text.starts_with(kModbusTcpScheme)) {
        target.kind = PortTarget::Kind::ModbusTcp;
        text.remove_prefix(kModbusTcpScheme.size());
    } else if (text.starts_with(kRtuOverTcpScheme)) {
        target.kind = PortTarget::Kind::RtuOverTcp;
        text.remove_prefix(kRtuOverTcpScheme.size());
    } else {
        return invalidTarget("not tcp://HOST[:PORT] or rtu-over-tcp://HOST:PORT");
    }
    std::string_view host;
    std::string_view port;
    if (text.starts_with('[')) {
        const auto close = text.find(']');
        if (close == std::string_view::npos || close == 1) {
            return invalidTarget("an IPv6 address needs its closing bracket");
        }
        host = text.substr(1, close - 1);
        text.remove_prefix(close + 1);
        if (!text.empty() && !text.starts_with(':')) {
            return invalidTarget("only :PORT may follow the host");
        }
        port = text.empty() ? std::string_view() : text.substr(1);
        if (!text.empty() && port.empty()) {
            return invalidTarget("no port number after ':'");
        }
    } else {
        const auto colon = text.find(':');
        host = text.substr(0, colon);
        if (colon != std::string_view::npos) {
            port = text.substr(colon + 1);
            if (port.empty()) {
                return invalidTarget("no port number after ':'");
            }
        }
    }
    if (host.empty()) {
        return invalidTarget("no host");
    }
    for (const char c : host) {
        const bool fits = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' || c == ':';
        if (!fits) {
            return invalidTarget("the host has a character no host name or address has");
        }
    }
    if (port.empty()) {
        if (target.kind == PortTarget::Kind::RtuOverTcp) {
            return invalidTarget("rtu-over-tcp:// needs :PORT, a serial server has no usual port");
        }
        target.tcpPort = kModbusTcpDefaultPort;
    } else {
        unsigned long number = 0;
        for (const char c : port) {
            if (c < '0' || c > '9' || number > 65535) {
                return invalidTarget("the port is not a number from 1 to 65535");
            }
            number = number * 10 + static_cast<unsigned long>(c - '0');
        }
        if (number < 1 || number > 65535) {
            return invalidTarget("the port is not a number from 1 to 65535");
        }
        target.tcpPort = static_cast<std::uint16_t>(number);
    }
    target.host = std::string(host);
    return target;
}

/// The device port N reaches when no file names another line for it: \\.\COM<N> on Windows,
/// /dev/ttyS<N-1> elsewhere.
inline std::string serialDevice(std::int32_t port) {
#ifdef _WIN32
    return "\\\\.\\COM" + std::to_string(port);
#else
    return "/dev/ttyS" + std::to_string(port - 1);
#endif
}

/// Port N: the path at <data>/modbus485/com<N> when it is there (a regular file names a gateway
/// on its first line, anything else is a serial device or the link to one), otherwise
/// serialDevice(N). Ports below 1 have no device.
inline PortTarget portTarget(std::int32_t port) {
    if (port < 1) {
        return invalidTarget("ports start at 1");
    }
    PortTarget target;
    const std::string path = portLinkPath(port);
    std::error_code error;
    const auto status = std::filesystem::symlink_status(filePath(path), error);
    if (error || !std::filesystem::exists(status)) {
        target.kind = PortTarget::Kind::Serial;
        target.device = serialDevice(port);
        return target;
    }
    if (!std::filesystem::is_regular_file(status)) {
        target.kind = PortTarget::Kind::Serial;
        target.device = path;
        return target;
    }
    std::ifstream file(filePath(path), std::ios::binary);
    std::string head(kMaxPortFileLine + 1, '\0');
    file.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(file.gcount()));
    const auto end = head.find('\n');
    if (end == std::string::npos && head.size() > kMaxPortFileLine) {
        return invalidTarget("the first line of " + path + " is too long for a gateway");
    }
    return parseGatewayUrl(std::string_view(head).substr(0, end));
}

} // namespace modbus485
