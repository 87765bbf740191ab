#pragma once

#include <QString>
#include <QTemporaryDir>

/// A data folder of the test's own, made the process's XDG_DATA_HOME while it lives, so the
/// station's reading log and serial links never touch the user's files.
class TestData {
  public:
    TestData();
    ~TestData();
    TestData(const TestData&) = delete;
    TestData& operator=(const TestData&) = delete;

    [[nodiscard]] QString path() const { return m_dir.path(); }
    [[nodiscard]] QString readingLog() const;

    /// Creates the reading log with the database tool; false when the tool failed.
    bool createReadingLog();

  private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious;
};
