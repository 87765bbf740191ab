#pragma once

// Where a port number's serial link or gateway file lives; shared by the library, the meter
// simulator and vx310-port so they always agree.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace modbus485 {

#ifdef _WIN32
/// %LOCALAPPDATA%, in UTF-8: the folder the station keeps its reading log in too.
inline std::string dataHome() {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || local[0] == L'\0') {
        return {};
    }
    const std::u8string utf8 = std::filesystem::path(local).generic_u8string();
    return std::string(utf8.begin(), utf8.end());
}
#else
/// $XDG_DATA_HOME, or ~/.local/share when that is unset or empty.
inline std::string dataHome() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] != '\0') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.local/share";
}
#endif

/// A path held as UTF-8, as the file system takes it on every platform.
inline std::filesystem::path filePath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

/// The link a simulator or the user makes for port N, or the file naming its gateway:
/// <data>/modbus485/com<N>.
inline std::string portLinkPath(std::int32_t port) {
    return dataHome() + "/modbus485/com" + std::to_string(port);
}

} // namespace modbus485
