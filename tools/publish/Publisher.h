#pragma once

#include "LogFollower.h"
#include "Payloads.h"
#include "PublishOptions.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <optional>

class QSocketNotifier;
struct mosquitto;

namespace publish {

/// Follows the reading log and publishes each snapshot, at least once and in record order, to
/// the broker. The MQTT client runs on this thread's event loop: its socket is watched by
/// QSocketNotifier and driven with mosquitto_loop_read/write/misc, so the log, the window of
/// messages in flight and the acknowledged position are touched by one thread only.
class Publisher : public QObject {
    Q_OBJECT

  public:
    /// Messages published and not yet acknowledged, at most.
    static constexpr int kMaxInFlight = 64;
    /// Snapshots read from the log per statement, at most.
    static constexpr int kReadBatch = 256;
    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLastRetryMs = 30000;

    explicit Publisher(Options options, QObject* parent = nullptr);
    ~Publisher() override;
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    /// Starts following the log and connecting; finished() ends the run.
    void start();
    /// Says offline, disconnects and keeps the acknowledged position; then finished(exitCode).
    void stop(int exitCode = 0);

  Q_SIGNALS:
    void finished(int exitCode);

  private:
    enum class Link { Down, Connecting, Up };
    struct InFlight {
        RingPosition position;
        int mid = 0;
        bool acknowledged = false;
    };

    void tick();
    void pollLog();
    /// Publishes up to the window; right after a look at the control row (`polled`) the log is read
    /// even when caught up, to check that the ring still holds the position.
    void fill(bool polled = false);
    bool readMore(bool polled);
    [[nodiscard]] bool caughtUp() const;
    void checkOnceDone();

    void connectBroker();
    void connectFailed(const QString& reason);
    void dropConnection();
    void afterLoop();
    void watchSocket();
    void unwatchSocket();
    void releaseClient();
    void onReadable();
    void onWritable();

    void onConnect(int rc);
    void onDisconnect(int rc);
    void onPublish(int mid);
    void onLog(int level, const char* text);

    bool publishRetained(const QString& topic, const QByteArray& payload, int* mid = nullptr);
    void writeStateNow();
    void finish();
    /// One line on standard error, not repeated while the same trouble lasts.
    void complain(const QString& text);

    Options m_options;
    Topics m_topics;
    LogFollower m_log;

    mosquitto* m_client = nullptr;
    Link m_link = Link::Down;
    int m_socket = -1;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer m_tick;
    QTimer m_retry;
    QTimer m_stopTimeout;
    QElapsedTimer m_attempt;
    int m_retryMs = kFirstRetryMs;
    bool m_dropped = false;
    QString m_dropReason;
    QString m_refusal;
    QString m_lastLoggedError;

    std::optional<RingPosition> m_acknowledged;
    bool m_stateDirty = false;
    std::optional<RingPosition> m_read;
    std::deque<SnapshotRow> m_pending;
    std::deque<InFlight> m_inFlight;
    /// last_id of the control row at the last look; empty before the first one that read it.
    std::optional<std::int32_t> m_newest;
    bool m_logOpen = false;
    bool m_waitingForLog = false;

    bool m_stopping = false;
    bool m_finished = false;
    int m_exitCode = 0;
    int m_offlineMid = -1;
    bool m_offlineAcknowledged = false;
    QString m_lastComplaint;
    bool m_brokerTrouble = false;
};

} // namespace publish
