#include "PublishTestSupport.h"

#include "trend/TrendState.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <climits>
#include <unordered_map>

namespace publishtest {

PublisherRun::PublisherRun(QString errorFile, QStringList arguments)
    : m_errorFile(std::move(errorFile)), m_arguments(std::move(arguments)) {}

PublisherRun::~PublisherRun() { kill(); }

bool PublisherRun::start() {
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(m_errorFile, QIODevice::Append);
    m_process.start(QStringLiteral(VX310_PUBLISH_PATH), m_arguments);
    return m_process.waitForStarted(10000);
}

int PublisherRun::finish(int timeoutMs) {
    if (!m_process.waitForFinished(timeoutMs) || m_process.exitStatus() != QProcess::NormalExit) {
        kill();
        return -1;
    }
    return m_process.exitCode();
}

int PublisherRun::terminate() {
    m_process.terminate();
    return finish(15000);
}

void PublisherRun::kill() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

QString PublisherRun::errors() const {
    QFile file(m_errorFile);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool PublisherRun::waitForError(const QString& fragment, int timeoutMs) const {
    return mqtttest::waitUntil([&] { return errors().contains(fragment); }, timeoutMs);
}

std::vector<int> snapshotRecords(const std::vector<mqtttest::Subscriber::Message>& messages,
                                 const QString& topic) {
    std::vector<int> records;
    for (const auto& message : messages) {
        if (message.topic == topic) {
            records.push_back(
                QJsonDocument::fromJson(message.payload).object().value(u"record").toInt(-1));
        }
    }
    return records;
}

::testing::AssertionResult arrivedInOrder(const std::vector<int>& got,
                                          const std::vector<int>& expected, int window) {
    std::unordered_map<int, int> indexOf;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        indexOf[expected[i]] = static_cast<int>(i);
    }
    int newest = -1;
    for (std::size_t n = 0; n < got.size(); ++n) {
        const auto found = indexOf.find(got[n]);
        if (found == indexOf.end()) {
            return ::testing::AssertionFailure()
                   << "message " << n << " carries record " << got[n] << ", not expected";
        }
        const int index = found->second;
        if (index > newest + 1) {
            return ::testing::AssertionFailure()
                   << "message " << n << " carries record " << got[n] << " after record "
                   << (newest >= 0 ? expected[static_cast<std::size_t>(newest)] : 0)
                   << ": a gap";
        }
        if (index <= newest - window) {
            return ::testing::AssertionFailure()
                   << "message " << n << " repeats record " << got[n] << ", "
                   << (newest - index) << " records back";
        }
        newest = std::max(newest, index);
    }
    if (newest + 1 != static_cast<int>(expected.size())) {
        return ::testing::AssertionFailure()
               << (newest + 1) << " of " << expected.size() << " records arrived";
    }
    return ::testing::AssertionSuccess();
}

std::vector<int> ringRun(int first, int count) {
    std::vector<int> records;
    for (int i = 0; i < count; ++i) {
        records.push_back((first - 1 + i) % trend::kRingSize + 1);
    }
    return records;
}

} // namespace publishtest
