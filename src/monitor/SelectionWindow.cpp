#include "monitor/SelectionWindow.h"

#include "common/DayNumber.h"

#include <QDateTimeEdit>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace monitor {

namespace {

const QString kMomentFormat = QStringLiteral("yyyy/MM/dd HH:mm:ss");

QDateTimeEdit* momentEdit(QWidget* parent, const char* name, const QDateTime& oldest,
                          const QDateTime& newest, const QDateTime& at) {
    auto* edit = new QDateTimeEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setDisplayFormat(kMomentFormat);
    // Only moments the log holds can be chosen.
    edit->setDateTimeRange(oldest, newest);
    edit->setDateTime(at);
    edit->setCalendarPopup(true);
    return edit;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption) {
    auto* push = new QPushButton(caption, parent);
    push->setObjectName(QString::fromLatin1(name));
    push->setAutoDefault(false);
    return push;
}

} // namespace

SelectionWindow::SelectionWindow(double oldest, double newest, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SelectionWindow"));
    setWindowTitle(QStringLiteral("选择"));
    const QDateTime first = common::momentOf(oldest);
    const QDateTime last = common::momentOf(newest);

    m_momentEdit = momentEdit(this, "moment", first, last, last);
    m_fromEdit = momentEdit(this, "exportFrom", first, last, first);
    m_toEdit = momentEdit(this, "exportTo", first, last, last);
    m_show = button(this, "show", QStringLiteral("确定"));
    m_export = button(this, "export", QStringLiteral("导出"));
    m_cancel = button(this, "cancel", QStringLiteral("取消"));
    m_show->setDefault(true);

    auto* span = new QLabel(QStringLiteral("记录范围 %1 至 %2")
                                .arg(first.toString(kMomentFormat), last.toString(kMomentFormat)),
                            this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("时刻"), m_momentEdit);
    auto* exportBox = new QGroupBox(QStringLiteral("导出"), this);
    auto* exportForm = new QFormLayout(exportBox);
    exportForm->addRow(QStringLiteral("从"), m_fromEdit);
    exportForm->addRow(QStringLiteral("到"), m_toEdit);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_show);
    buttons->addWidget(m_export);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(span);
    layout->addLayout(form);
    layout->addWidget(exportBox);
    layout->addLayout(buttons);

    connect(m_show, &QPushButton::clicked, this, [this] {
        Q_EMIT showRequested(moment());
        accept();
    });
    connect(m_export, &QPushButton::clicked, this,
            [this] { Q_EMIT exportRequested(exportFrom(), exportTo()); });
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

double SelectionWindow::moment() const { return common::dayNumberAt(m_momentEdit->dateTime()); }
double SelectionWindow::exportFrom() const { return common::dayNumberAt(m_fromEdit->dateTime()); }
double SelectionWindow::exportTo() const { return common::dayNumberAt(m_toEdit->dateTime()); }

} // namespace monitor
