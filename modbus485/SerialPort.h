#pragma once

#include "Transport.h"

#include <modbus/modbus.h>

#include <cstdint>
#include <string>

namespace modbus485 {

/// A port's serial device: <data>/modbus485/comN where that link exists, /dev/ttyS(N-1) otherwise.
class SerialPort final : public Transport {
  public:
    explicit SerialPort(std::int32_t port) : m_port(port) {}
    ~SerialPort() override { close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return m_ctx != nullptr; }
    bool write(std::span<const std::uint8_t> frame, TimePoint deadline) override;
    void readUntil(TimePoint until, std::vector<std::uint8_t>& into) override;

  private:
    std::int32_t m_port;
    modbus_t* m_ctx = nullptr;
    int m_fd = -1;
};

} // namespace modbus485
