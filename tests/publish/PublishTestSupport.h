#pragma once

#include "MqttBroker.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace publishtest {

/// The tool as a service manager or a shell runs it, its standard error kept in a file.
class PublisherRun {
  public:
    PublisherRun(QString errorFile, QStringList arguments);
    ~PublisherRun();
    PublisherRun(const PublisherRun&) = delete;
    PublisherRun& operator=(const PublisherRun&) = delete;

    bool start();
    /// Waits for the end; the exit code, or -1 when it did not end normally in time.
    int finish(int timeoutMs = 60000);
    /// SIGTERM, then the exit code.
    int terminate();
    void kill();
    [[nodiscard]] bool running() const { return m_process.state() == QProcess::Running; }
    [[nodiscard]] QString errors() const;
    bool waitForError(const QString& fragment, int timeoutMs = 30000) const;

  private:
    QString m_errorFile;
    QStringList m_arguments;
    QProcess m_process;
};

/// The record numbers of the snapshot messages on a topic, in arrival order.
std::vector<int> snapshotRecords(const std::vector<mqtttest::Subscriber::Message>& messages,
                                 const QString& topic);

/// Every expected record arrived, new ones in the expected order without a gap; a record seen
/// before came again only within the last `window` records (what was in flight).
::testing::AssertionResult arrivedInOrder(const std::vector<int>& got,
                                          const std::vector<int>& expected, int window);

/// Records first, first + 1, ... around the ring, count of them.
std::vector<int> ringRun(int first, int count);

} // namespace publishtest
