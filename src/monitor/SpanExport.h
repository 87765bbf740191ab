#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace trend {
class ReadingLog;
}

namespace monitor {

/// Asks for a file name and writes the log's snapshots between two moments (day numbers) there as
/// CSV; an empty name writes nothing, a refused or failed export says so in a message box.
void exportSpan(QWidget* parent, trend::ReadingLog& log, double from, double to,
                const std::function<QString(const QString&)>& chooseFile);

} // namespace monitor
