#include "config/CONFIG1.h"

#include "common/Twips.h"
#include "config/ConfigLayout.h"
#include "config/FrameTitle.h"
#include "config/ParameterMap.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>

namespace config {

namespace {

constexpr double kCaptionPoints = 9.0;
constexpr double kFieldPoints = 10.5;
constexpr int kPageWidgetCount = kPageCount;

QRect onScreen(const QRect& twips) {
    return common::twipsRect(twips.x(), twips.y(), twips.width(), twips.height());
}

QFont simSun(double points) {
    QFont font(QStringLiteral("SimSun"));
    font.setPointSizeF(points);
    return font;
}

QLineEdit* makeField(QWidget* page, int index, const QRect& where) {
    auto* field = new QLineEdit(page);
    field->setObjectName(QStringLiteral("D_4WRW_%1").arg(index));
    field->setGeometry(onScreen(where));
    field->setReadOnly(true);
    field->setFont(simSun(kFieldPoints));
    QPalette palette = field->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, Qt::white);
    }
    field->setPalette(palette);
    return field;
}

} // namespace

CONFIG1::CONFIG1(meterlink::SharedState& state, meterlink::MeterAccess& meter, QWidget* mainWindow)
    : QWidget(nullptr), m_state(state), m_meter(meter), m_mainWindow(mainWindow),
      m_yield([] { QCoreApplication::processEvents(); }) {
    setObjectName(QStringLiteral("CONFIG1"));
    setWindowTitle(QString());
    setFont(simSun(kCaptionPoints));
    setFixedSize(common::px(windowWidth()), common::px(windowHeight()));

    SSTab1 = new QTabWidget(this);
    SSTab1->setObjectName(QStringLiteral("SSTab1"));
    SSTab1->setGeometry(onScreen(tabBox()));
    for (int page = 0; page < kPageWidgetCount; ++page) {
        auto* widget = new QWidget;
        widget->setObjectName(QStringLiteral("SSTab1_%1").arg(page));
        SSTab1->addTab(widget, QString::fromUtf8(kPageTitles[static_cast<std::size_t>(page)]));
    }
    buildRows();

    Command11 = new QPushButton(QStringLiteral(" Esc 返回"), this);
    Command11->setObjectName(QStringLiteral("Command11"));
    Command11->setGeometry(onScreen(returnButton()));
    Command11->setAutoDefault(false);
    Command11->setShortcut(Qt::Key_Escape);
    connect(Command11, &QPushButton::clicked, this, &CONFIG1::Command11_Click);

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(kReadIntervalMs);
    connect(&Timer1, &QTimer::timeout, this, &CONFIG1::Timer1_Timer);

    Form_Load();
}

void CONFIG1::buildRows() {
    for (const Parameter& parameter : kParameters) {
        QWidget* page = SSTab1->widget(static_cast<int>(parameter.page));
        const RowCells cells = rowCells(parameter.column, parameter.row);
        const int i = parameter.index;

        auto* caption = new QLabel(QString::fromUtf8(parameter.caption), page);
        caption->setObjectName(QStringLiteral("Label1_%1").arg(parameter.captionIndex));
        caption->setGeometry(onScreen(cells.caption));
        caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        Label1.set(parameter.captionIndex, caption);

        QLineEdit* field = makeField(page, i, cells.field);
        D_4WRW.set(i, field);

        QWidget* entry = nullptr;
        if (parameter.kind == Kind::List) {
            auto* list = new QComboBox(page);
            list->setObjectName(QString::fromLatin1(parameter.listName));
            // Only the list's own items can be chosen, so only its codes ever reach the meter.
            list->setEditable(false);
            m_lists.set(i, list);
            entry = list;
        } else {
            auto* box = new QLineEdit(page);
            box->setObjectName(QStringLiteral("D_4wT_%1").arg(i));
            D_4wT.set(i, box);
            entry = box;
        }
        entry->setGeometry(onScreen(cells.entry));

        auto* button = new QPushButton(QStringLiteral("修改"), page);
        button->setObjectName(QStringLiteral("Command3_%1").arg(i));
        button->setGeometry(onScreen(cells.button));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this,
                [this, i] { Command3_Click(static_cast<std::int16_t>(i)); });
        Command3.set(i, button);

        if (!parameter.enabled) {
            field->setEnabled(false);
            entry->setEnabled(false);
            button->setEnabled(false);
        }
    }
}

void CONFIG1::Form_Load() {
    for (const int index : kListFillOrder) {
        const Parameter* parameter = parameterAt(index);
        QComboBox* list = listOf(index);
        if (parameter == nullptr || parameter->list == nullptr || list == nullptr) {
            continue;
        }
        for (const ChoiceItem& item : parameter->list->items) {
            list->addItem(QString::fromUtf8(item.listText));
        }
        list->setCurrentIndex(0);
    }
    SSTab1->setCurrentIndex(static_cast<int>(kOpeningPage));
    Timer1.start();
}

void CONFIG1::Timer1_Timer() {
    if (m_unloaded) {
        return;
    }
    // The window may be unloaded, or even deleted, by whatever runs during a yield.
    const QPointer<CONFIG1> self(this);
    m_tickGuard.run([this, &self] {
        for (int block = 0; block < kBlockCount; ++block) {
            if (block > 0) {
                const std::function<void()> yield = m_yield;
                yield();
                if (self.isNull() || m_unloaded) {
                    return;
                }
            }
            readBlock(block);
        }
    });
    if (!self.isNull()) {
        deleteWhenIdle();
    }
}

void CONFIG1::readBlock(int block) {
    const auto& ports = m_state.store.PortSet;
    const int first = firstRegisterOfBlock(block);
    if (std::int32_t* dest = ParamReg.span(first - 1, kBlockLength)) {
        m_meter.Get_4X_D8(ports.value(meterlink::kPortNumber),
                          ports.value(meterlink::kMeterAddress), first, dest);
    }
    for (int i = first - 1; i < first - 1 + kBlockLength; ++i) {
        showParameter(i);
    }
}

void CONFIG1::showParameter(int index) {
    const Parameter* parameter = parameterAt(index);
    QLineEdit* field = D_4WRW.value(index, nullptr);
    const std::optional<std::int32_t> raw = ParamReg.get(index);
    if (parameter == nullptr || field == nullptr || !raw) {
        return;
    }
    // An unchanged text is left alone, so a selection in the field survives the refresh.
    if (const std::optional<QString> text = shownText(*parameter, *raw);
        text && field->text() != *text) {
        field->setText(*text);
    }
}

void CONFIG1::Command3_Click(std::int16_t Index) {
    const Parameter* parameter = parameterAt(Index);
    if (m_unloaded || parameter == nullptr) {
        return;
    }
    const bool isList = parameter->kind == Kind::List;
    QString entry;
    if (isList) {
        const QComboBox* list = listOf(Index);
        if (list == nullptr) {
            return;
        }
        entry = list->currentText();
    } else {
        const QLineEdit* box = D_4wT.value(Index, nullptr);
        if (box == nullptr) {
            return;
        }
        entry = box->text();
    }
    const std::optional<std::int32_t> value = entryValue(*parameter, entry);
    auto& store = m_state.store;
    const int cell = isList ? meterlink::kListParamValue : meterlink::kTypedParamValue;
    if (!value || !store.PortSet.set(cell, *value)) {
        return;
    }
    const std::int32_t port = store.PortSet.value(meterlink::kPortNumber);
    const std::int32_t address = store.PortSet.value(meterlink::kMeterAddress);
    const std::int32_t written = store.PortSet.value(cell);
    if (m_meter.Set_4X_D1(port, address, registerOf(*parameter), written) ==
        meterlink::MeterAccess::kWriteFailed) {
        m_meter.Set_4X_D1(port, address, registerOf(*parameter), written);
    }
}

void CONFIG1::Command11_Click() { close(); }

void CONFIG1::closeEvent(QCloseEvent* event) {
    event->accept();
    unload();
}

void CONFIG1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    clearFrameTitle(*this);
}

void CONFIG1::unload() {
    if (m_unloaded) {
        return;
    }
    m_unloaded = true;
    Timer1.stop();
    if (m_mainWindow != nullptr) {
        m_mainWindow->show();
    }
    deleteWhenIdle();
}

void CONFIG1::deleteWhenIdle() {
    // A tick waiting at a yield still uses the controls and ParamReg; it deletes on its way out.
    if (m_unloaded && !m_tickGuard.running()) {
        deleteLater();
    }
}

} // namespace config
