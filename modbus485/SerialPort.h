#pragma once

#include "Transport.h"

#include <modbus/modbus.h>

#include <cstdint>
#include <string>

namespace modbus485 {

/// A port's serial device: <data>/modbus485/comN where that link exists, /dev/ttyS(N-1) otherwise.
class SerialPort final : public Transport {
  public:
    explicit SerialPort(std::string device) : m_device(std::move(device)) {}
    ~SerialPort() override { close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return m_ctx != nullptr; }
    bool write(std::span<const std::uint8_t> frame, TimePoint deadline) override;
    void readUntil(TimePoint until, std::vector<std::uint8_t>& into) override;

  private:
    std::string m_device;
    modbus_t* m_ctx = nullptr;
    int m_fd = -1;
};

} // namespace modbus485
