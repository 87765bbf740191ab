#include "monitor/Controls.h"

#include "common/Twips.h"
#include "monitor/LiveDisplay.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace monitor {

void setBackground(QWidget* widget, common::Rgb colour) {
    if (widget == nullptr || (widget->autoFillBackground() &&
                              widget->palette().color(QPalette::Window).rgb() == colour)) {
        return;
    }
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(colour));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void setTextColour(QWidget* widget, common::Rgb colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, QColor::fromRgb(colour));
    widget->setPalette(palette);
}

void place(QWidget* widget, const QRect& twips) {
    widget->setGeometry(common::twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
}

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& twips,
                  Qt::Alignment alignment) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    place(label, twips);
    if (alignment) {
        label->setAlignment(alignment);
    }
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption,
                        const QRect& twips) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    place(button, twips);
    button->setAutoDefault(false);
    return button;
}

QGroupBox* makeFrame(QWidget* parent, const char* name, const QString& title, const QRect& twips) {
    auto* frame = new QGroupBox(title, parent);
    frame->setObjectName(QString::fromLatin1(name));
    place(frame, twips);
    return frame;
}

QLabel* makeValueLabel(QWidget* parent, const QString& name, const QRect& twips) {
    auto* label = makeLabel(parent, name, QString(), twips, Qt::AlignCenter);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return label;
}

QLabel* makeReadingLabel(QWidget* parent, const QString& name, const QRect& twips) {
    QLabel* label = makeValueLabel(parent, name, twips);
    // Without a buddy a label with no text is named after the title of its frame: a reading that
    // is no number would be announced as "真有效值测量". Its own (empty) text names it instead.
    label->setBuddy(label);
    setBackground(label, kReadingBackground);
    return label;
}

} // namespace monitor
