// vx310-link-probe: calls the meter-access library the way the station does (loaded by name from
// this program's own folder, its seven operations found by their plain names), one call per line
// of standard input, each answered on one line of standard output with its result and the
// milliseconds it took:
//   open PORT BAUD PARITY     -> open RESULT MS
//   close PORT                -> close RESULT MS
//   bit PORT ADDRESS COIL     -> bit RESULT MS
//   d1 PORT ADDRESS REGISTER  -> d1 RESULT MS
//   dr8 PORT ADDRESS FIRST    -> dr8 RESULT MS BITS*8 (each float's bits in hex; destination
//                                filled with 0x7fc00bad before the call)
//   d8 PORT ADDRESS FIRST     -> d8 RESULT MS VALUE*8 (destination filled with -7777 before)
//   set PORT ADDRESS REGISTER VALUE -> set RESULT MS
// The first line it writes is "ready N", N the operations found.

#include "modbus485.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

namespace {

// The operations' types as the library declares them; the probe links nothing of it and finds
// each by name, as the station does.
using OpenFn = decltype(&OpenPort_Modbus);
using CloseFn = decltype(&ClosePort_Modbus);
using ScalarFn = decltype(&Get_3X_D1);
using FloatsFn = decltype(&Get_3X_DR8);
using WordsFn = decltype(&Get_4X_D8);
using WriteFn = decltype(&Set_4X_D1);

constexpr std::uint32_t kFloatSentinel = 0x7fc00badu;
constexpr std::int32_t kWordSentinel = -7777;

struct Library {
    OpenFn open = nullptr;
    CloseFn close = nullptr;
    ScalarFn bit = nullptr;
    ScalarFn word = nullptr;
    FloatsFn floats = nullptr;
    WordsFn words = nullptr;
    WriteFn write = nullptr;
};

template <typename Fn> Fn find(HMODULE module, const char* name, int& found) {
    auto* symbol = GetProcAddress(module, name);
    found += symbol != nullptr ? 1 : 0;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(symbol));
}

std::wstring besideThisProgram(const wchar_t* file) {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + file;
}

long long msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

} // namespace

int main() {
    // Lines end in a line feed alone, as the Linux side reads them.
    _setmode(_fileno(stdout), _O_BINARY);
    Library lib;
    int found = 0;
    if (HMODULE module = LoadLibraryW(besideThisProgram(L"MODBUS485.dll").c_str())) {
        lib.open = find<OpenFn>(module, "OpenPort_Modbus", found);
        lib.close = find<CloseFn>(module, "ClosePort_Modbus", found);
        lib.bit = find<ScalarFn>(module, "Get_0X_Bit1", found);
        lib.word = find<ScalarFn>(module, "Get_3X_D1", found);
        lib.floats = find<FloatsFn>(module, "Get_3X_DR8", found);
        lib.words = find<WordsFn>(module, "Get_4X_D8", found);
        lib.write = find<WriteFn>(module, "Set_4X_D1", found);
    }
    std::printf("ready %d\n", found);
    std::fflush(stdout);
    if (found != 7) {
        return 1;
    }

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string call;
        std::int32_t port = 0;
        std::int32_t a = 0;
        std::int32_t b = 0;
        std::int32_t c = 0;
        in >> call >> port >> a >> b >> c;
        const auto start = std::chrono::steady_clock::now();
        std::ostringstream out;
        if (call == "open") {
            const auto result = lib.open(port, a, b);
            out << call << ' ' << result << ' ' << msSince(start);
        } else if (call == "close") {
            const auto result = lib.close(port);
            out << call << ' ' << result << ' ' << msSince(start);
        } else if (call == "bit" || call == "d1") {
            const auto result = (call == "bit" ? lib.bit : lib.word)(port, a, b);
            out << call << ' ' << result << ' ' << msSince(start);
        } else if (call == "dr8") {
            std::array<float, 8> dest{};
            for (float& f : dest) {
                std::memcpy(&f, &kFloatSentinel, sizeof f);
            }
            const float result = lib.floats(port, a, b, dest.data());
            out << call << ' ' << result << ' ' << msSince(start) << std::hex;
            for (const float f : dest) {
                std::uint32_t bits = 0;
                std::memcpy(&bits, &f, sizeof bits);
                out << ' ' << bits;
            }
        } else if (call == "d8") {
            std::array<std::int32_t, 8> dest{};
            dest.fill(kWordSentinel);
            const auto result = lib.words(port, a, b, dest.data());
            out << call << ' ' << result << ' ' << msSince(start);
            for (const auto v : dest) {
                out << ' ' << v;
            }
        } else if (call == "set") {
            const auto result = lib.write(port, a, b, c);
            out << call << ' ' << result << ' ' << msSince(start);
        } else {
            out << "unknown " << call;
        }
        std::printf("%s\n", out.str().c_str());
        std::fflush(stdout);
    }
    return 0;
}
