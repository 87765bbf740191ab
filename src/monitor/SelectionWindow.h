#pragma once

#include <QDialog>

#include <functional>

class QDateTimeEdit;
class QPushButton;

namespace monitor {

/// The window behind "F5 选择": a moment of the reading log to bring onto the chart, and a span
/// of it to export as CSV.
class SelectionWindow : public QDialog {
    Q_OBJECT

  public:
    /// oldest and newest are the day numbers of the log's first and last snapshots.
    SelectionWindow(double oldest, double newest, QWidget* parent = nullptr);

    /// The chosen moment as a day number.
    [[nodiscard]] double moment() const;
    /// The span to export, as day numbers.
    [[nodiscard]] double exportFrom() const;
    [[nodiscard]] double exportTo() const;

    QDateTimeEdit* m_momentEdit = nullptr;
    QDateTimeEdit* m_fromEdit = nullptr;
    QDateTimeEdit* m_toEdit = nullptr;
    QPushButton* m_show = nullptr;
    QPushButton* m_export = nullptr;
    QPushButton* m_cancel = nullptr;

  Q_SIGNALS:
    /// "确定": bring the moment onto the chart.
    void showRequested(double moment);
    /// "导出": write the span's snapshots.
    void exportRequested(double from, double to);
};

} // namespace monitor
