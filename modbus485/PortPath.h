#pragma once

// Where a port number's serial link lives; shared by the library and the meter simulator so the
// two always agree.

#include <cstdint>
#include <cstdlib>
#include <string>

namespace modbus485 {

/// $XDG_DATA_HOME, or ~/.local/share when that is unset or empty.
inline std::string dataHome() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] != '\0') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.local/share";
}

/// The link a simulator or the user makes for port N: <data>/modbus485/com<N>.
inline std::string portLinkPath(std::int32_t port) {
    return dataHome() + "/modbus485/com" + std::to_string(port);
}

} // namespace modbus485
