#include "SerialPort.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

namespace modbus485 {
namespace {

HANDLE handleOf(void* handle) { return static_cast<HANDLE>(handle); }

/// Whole milliseconds from now until until, rounded up; 0 once it has passed.
DWORD msUntil(Transport::TimePoint until) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    constexpr long long kLongest = 24LL * 60 * 60 * 1000;
    return static_cast<DWORD>(std::clamp<long long>(left.count(), 0, kLongest));
}

/// RTU ends a frame with 3.5 characters of silence; a read that has bytes returns after as
/// long a pause, and the exchange reads on while its answer is incomplete.
DWORD frameGapMs(int baud) {
    constexpr int kBitsPerCharacter = 11;
    const int ms = (35 * kBitsPerCharacter * 1000 / 10 + baud - 1) / baud;
    return static_cast<DWORD>(std::max(2, ms));
}

std::wstring widen(const std::string& utf8) {
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(0, size)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

/// The session-wide name that stands for a device while a process has it open. Object names
/// take no backslash and are compared as written, so the device name is folded to one spelling.
std::wstring claimName(const std::string& device) {
    std::wstring name = widen(device);
    CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    std::replace(name.begin(), name.end(), L'\\', L'/');
    return L"Local\\vx310-modbus485-" + name;
}

BYTE parityOf(char parity) {
    switch (parity) {
    case 'O':
        return ODDPARITY;
    case 'E':
        return EVENPARITY;
    default:
        return NOPARITY;
    }
}

bool configure(HANDLE line, const LineSettings& settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(line, &dcb)) {
        return false;
    }
    dcb.BaudRate = static_cast<DWORD>(settings.baud);
    dcb.ByteSize = 8;
    dcb.StopBits = ONESTOPBIT;
    dcb.Parity = parityOf(settings.parity);
    dcb.fParity = settings.parity != 'N';
    dcb.fBinary = TRUE;
    // An RS-485 converter needs no handshake; the lines are held up for those powered by them.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    // Otherwise one framing error stops every later read until it is cleared.
    dcb.fAbortOnError = FALSE;
    return SetCommState(line, &dcb) != FALSE;
}

} // namespace

bool SerialPort::open(const LineSettings& settings) {
    close();
    // A COM port opened without sharing is the driver's to refuse a second time already; the
    // claim makes the same hold for whatever stands in for one.
    SetLastError(ERROR_SUCCESS);
    HANDLE claim = CreateMutexW(nullptr, FALSE, claimName(m_device).c_str());
    if (claim == nullptr) {
        return false;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        return false;
    }
    HANDLE line = CreateFileW(widen(m_device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (line == INVALID_HANDLE_VALUE) {
        CloseHandle(claim);
        return false;
    }
    if (!configure(line, settings)) {
        CloseHandle(line);
        CloseHandle(claim);
        return false;
    }
    m_handle = line;
    m_claim = claim;
    m_baud = settings.baud;
    return true;
}

bool SerialPort::isOpen() const { return m_handle != nullptr; }

void SerialPort::close() {
    if (m_handle != nullptr) {
        CloseHandle(handleOf(m_handle));
        m_handle = nullptr;
    }
    if (m_claim != nullptr) {
        CloseHandle(handleOf(m_claim));
        m_claim = nullptr;
    }
}

bool SerialPort::write(std::span<const std::uint8_t> frame, TimePoint deadline) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    // A write constant of 0 would wait without end.
    timeouts.WriteTotalTimeoutConstant = std::max<DWORD>(1, msUntil(deadline));
    if (!SetCommTimeouts(handleOf(m_handle), &timeouts)) {
        return false;
    }
    DWORD sent = 0;
    const bool written = WriteFile(handleOf(m_handle), frame.data(),
                                   static_cast<DWORD>(frame.size()), &sent, nullptr) != FALSE;
    return written && sent == frame.size();
}

void SerialPort::readUntil(TimePoint until, std::vector<std::uint8_t>& into) {
    COMMTIMEOUTS timeouts{};
    const DWORD wait = msUntil(until);
    if (wait == 0) {
        // What the line holds, at once.
        timeouts.ReadIntervalTimeout = MAXDWORD;
    } else {
        timeouts.ReadIntervalTimeout = frameGapMs(m_baud);
        timeouts.ReadTotalTimeoutConstant = wait;
    }
    std::uint8_t buf[256];
    DWORD got = 0;
    do {
        if (!SetCommTimeouts(handleOf(m_handle), &timeouts) ||
            !ReadFile(handleOf(m_handle), buf, sizeof buf, &got, nullptr)) {
            DWORD errors = 0;
            ClearCommError(handleOf(m_handle), &errors, nullptr);
            // A line that fails (an adapter pulled out) brings nothing: the wait is slept, not
            // spun until the deadline.
            std::this_thread::sleep_until(until);
            return;
        }
        into.insert(into.end(), buf, buf + got);
        // A full buffer may have left bytes behind; those are taken without waiting.
        timeouts = COMMTIMEOUTS{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
    } while (got == sizeof buf);
}

} // namespace modbus485
