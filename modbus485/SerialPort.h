#pragma once

#include "Transport.h"

#include <cstdint>
#include <string>

#ifndef _WIN32
#include <modbus/modbus.h>
#endif

namespace modbus485 {

/// A port's serial device: <data>/modbus485/comN where that link exists, otherwise the system's
/// own name for port N (/dev/ttyS(N-1), or \\.\COMN on Windows).
class SerialPort final : public Transport {
  public:
    explicit SerialPort(std::string device) : m_device(std::move(device)) {}
    ~SerialPort() override { close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override;
    bool write(std::span<const std::uint8_t> frame, TimePoint deadline) override;
    void readUntil(TimePoint until, std::vector<std::uint8_t>& into) override;

  private:
    std::string m_device;
#ifdef _WIN32
    void* m_handle = nullptr;
    // Held while the port is open: the one-master rule, whatever the driver enforces itself.
    void* m_claim = nullptr;
    int m_baud = 9600;
#else
    modbus_t* m_ctx = nullptr;
    int m_fd = -1;
#endif
};

} // namespace modbus485
