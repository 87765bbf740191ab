#include "TestData.h"

#include <QProcess>

TestData::TestData()
    : m_previous(qgetenv("XDG_DATA_HOME")),
      m_hadPrevious(qEnvironmentVariableIsSet("XDG_DATA_HOME")) {
    qputenv("XDG_DATA_HOME", m_dir.path().toUtf8());
}

TestData::~TestData() {
    if (m_hadPrevious) {
        qputenv("XDG_DATA_HOME", m_previous);
    } else {
        qunsetenv("XDG_DATA_HOME");
    }
}

QString TestData::readingLog() const { return m_dir.path() + QStringLiteral("/JetR/Rdatabj.db"); }

bool TestData::createReadingLog() {
    QProcess tool;
    tool.start(QStringLiteral(VX310_INITDB), {QStringLiteral("--path"), readingLog()});
    return tool.waitForFinished(10000) && tool.exitStatus() == QProcess::NormalExit &&
           tool.exitCode() == 0;
}
