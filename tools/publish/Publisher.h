#pragma once

#include "Delivery.h"
#include "LogFollower.h"
#include "MqttClient.h"
#include "Payloads.h"
#include "PublishOptions.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <vector>

namespace publish {

/// Follows the reading log and publishes each snapshot, at least once and in record order, to
/// the broker. The client runs on this thread's event loop, so the log, the delivery and the
/// acknowledged position are touched by one thread only.
class Publisher : public QObject {
    Q_OBJECT

  public:
    /// Snapshots read from the log per statement, at most.
    static constexpr int kReadBatch = 256;
    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLastRetryMs = 30000;

    explicit Publisher(Options options, QObject* parent = nullptr);

    /// Starts following the log and connecting; finished() ends the run.
    void start();
    /// Says offline, disconnects and keeps the acknowledged position; then finished(exitCode).
    void stop(int exitCode = 0);

  Q_SIGNALS:
    void finished(int exitCode);

  private:
    /// Where the run stands; only enter() changes it. The log is looked at once a second until
    /// the run has finished, whatever the broker does; the first attempt follows the first look.
    ///
    ///   Connecting     -> Publishing     the broker accepted (WaitingForLog while there is no log)
    ///   Publishing    <-> WaitingForLog  the log went away, or came (again)
    ///   Connecting, Publishing, WaitingForLog
    ///                  -> BackingOff     the attempt or the connection failed (--once: Finished)
    ///   BackingOff     -> Connecting     after 1 s, 2 s, 4 s ... up to 30 s
    ///   Publishing, WaitingForLog
    ///                  -> SayingOffline  stop() (Finished when offline cannot be sent)
    ///   SayingOffline  -> Finished       offline acknowledged, the connection failed, 3 s passed
    ///   Connecting, BackingOff
    ///                  -> Finished       stop()
    enum class Phase { Connecting, WaitingForLog, Publishing, BackingOff, SayingOffline, Finished };

    void enter(Phase next);
    [[nodiscard]] bool connected() const {
        return m_phase == Phase::Publishing || m_phase == Phase::WaitingForLog;
    }

    void tick();
    void pollLog();
    /// Publishes up to the window; right after a look at the control row (`polled`) the log is read
    /// even when caught up, to check that the ring still holds the position.
    void fill(bool polled = false);
    bool readMore(bool polled);
    void sayLapped(const std::vector<SnapshotRow>& oldest);

    void onConnected();
    void onAcknowledged(int mid);
    void onStepped();
    void brokerFailed(const QString& reason);

    void writeStateNow();
    /// One line on standard error, not repeated while the same trouble lasts.
    void complain(const QString& text);

    Options m_options;
    Topics m_topics;
    LogFollower m_log;
    MqttClient m_client;
    Delivery m_delivery;
    Phase m_phase = Phase::Connecting;

    QTimer m_tick;
    QTimer m_retry;
    QTimer m_stopTimeout;
    /// The next wait after a failure; above the first while the broker is in trouble.
    int m_retryMs = kFirstRetryMs;
    /// last_id of the control row at the last look; empty before the first one that read it.
    std::optional<std::int32_t> m_newest;
    /// The position the state file holds.
    std::optional<RingPosition> m_saved;
    /// The offline message while it waits for its acknowledgement.
    std::optional<int> m_offlineMid;
    int m_exitCode = 0;
    QString m_lastComplaint;
};

} // namespace publish
