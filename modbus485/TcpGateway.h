#pragma once

#include "PortTarget.h"
#include "Transport.h"

#include <modbus/modbus.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace modbus485 {

/// A port that is a gateway on the network: RTU frames carried in a TCP stream as they are, or
/// (Modbus TCP) each in an MBAP header whose transaction identifier tells its answer. The
/// connection is made when a frame is to go out and none is up, within that frame's deadline.
class TcpGateway final : public Transport {
  public:
    explicit TcpGateway(PortTarget target) : m_target(std::move(target)) {}
    ~TcpGateway() override { close(); }
    TcpGateway(const TcpGateway&) = delete;
    TcpGateway& operator=(const TcpGateway&) = delete;

    /// Always opens: a gateway out of reach now is tried again by each call.
    bool open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    bool write(std::span<const std::uint8_t> frame, TimePoint deadline) override;
    void readUntil(TimePoint until, std::vector<std::uint8_t>& into) override;
    bool lost() const override { return m_open && m_ctx == nullptr; }
    bool answersMatched() const override {
        return m_target.kind == PortTarget::Kind::ModbusTcp;
    }
    bool takesWireTime() const override { return false; }
    std::optional<int> takeDroppedLateness() override;

  private:
    bool connect(TimePoint deadline);
    void disconnect();
    bool sendAll(std::span<const std::uint8_t> bytes, TimePoint deadline);
    void unwrapAnswers(std::vector<std::uint8_t>& into);

    PortTarget m_target;
    bool m_open = false;
    modbus_t* m_ctx = nullptr;
    int m_fd = -1;
    // Runs on across connections, so an answer the gateway still sends for a request of an
    // earlier connection can never pass for a later one's.
    std::uint16_t m_transaction = 0;
    std::vector<std::uint8_t> m_stream;
    struct Sent {
        std::uint16_t transaction;
        TimePoint at;
    };
    // The latest requests, so an answer dropped for coming late still says how late it was.
    std::deque<Sent> m_recent;
    std::optional<int> m_droppedLateness;
};

} // namespace modbus485
