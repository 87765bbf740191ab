#include "monitor/SpanExport.h"

#include "common/DayNumber.h"
#include "trend/ReadingLog.h"
#include "trend/SnapshotExport.h"

#include <QMessageBox>

namespace monitor {

void exportSpan(QWidget* parent, trend::ReadingLog& log, double from, double to,
                const std::function<QString(const QString&)>& chooseFile) {
    const QDateTime first = common::momentOf(from);
    const QDateTime last = common::momentOf(to);
    const QString suggested =
        QStringLiteral("vx310-%1.csv").arg(first.toString(u"yyyyMMdd-HHmmss"));
    const QString path = chooseFile ? chooseFile(suggested) : QString();
    if (path.isEmpty()) {
        return;
    }
    log.ensureOpen();
    QString error;
    const trend::FileExport outcome =
        trend::exportSnapshotsToFile(log.database(), first, last, path, {log.path()}, &error);
    if (outcome == trend::FileExport::Refused) {
        QMessageBox::warning(parent, QStringLiteral("导出"),
                             QStringLiteral("所选文件是读数记录库或它的附属文件，不能用来导出。"
                                            "记录库保持原样。\n\n%1")
                                 .arg(path));
    } else if (outcome == trend::FileExport::Failed) {
        QMessageBox::warning(
            parent, QStringLiteral("导出"),
            QStringLiteral("导出失败，原有文件保持原样。\n\n%1").arg(error));
    }
}

} // namespace monitor
