#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace app {

/// One station records into a reading log at a time. The first start holds a lock beside the log
/// and listens under a name made from the log's path; a later start on the same log asks that one
/// to bring its window to the front and ends, so the ring never gets every second twice.
class StationGuard : public QObject {
  public:
    enum class Claim {
        Run,        ///< this process is the station on the log
        HandedOver, ///< the running station was asked to the front; this process ends
        Unanswered, ///< the log is held by a station that does not answer
    };

    explicit StationGuard(QString logPath, QObject* parent = nullptr);
    ~StationGuard() override;
    StationGuard(const StationGuard&) = delete;
    StationGuard& operator=(const StationGuard&) = delete;

    /// Takes the log, or hands over to the station that has it.
    Claim claim();

    /// What a later start asks of this station.
    void setBringToFront(std::function<void()> bringToFront) {
        m_bringToFront = std::move(bringToFront);
    }

    /// The local server name of the station on a log: the same for every spelling of its path.
    static QString serverName(const QString& logPath);
    /// Process id of the station that holds the log, 0 when unknown.
    [[nodiscard]] qint64 holder() const { return m_holder; }

  private:
    /// Asks the station listening for the log to come to the front; false when none answered.
    [[nodiscard]] bool askToFront(int timeoutMs) const;
    void answer();

    QString m_logPath;
    QString m_serverName;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    std::function<void()> m_bringToFront;
    qint64 m_holder = 0;
};

} // namespace app
