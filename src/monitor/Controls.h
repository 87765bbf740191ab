#pragma once

#include "common/Colour.h"

#include <QRect>
#include <QString>

#include <optional>

class QGroupBox;
class QLabel;
class QPushButton;
class QWidget;

namespace monitor {

/// Sets a control's background colour; an unchanged colour is left alone (the display tick sets
/// it five times a second and needs no repaint).
void setBackground(QWidget* widget, common::Rgb colour);
void setTextColour(QWidget* widget, common::Rgb colour);

/// A label or a button named for its control, at a rectangle in twips within its parent; a label
/// keeps the toolkit's alignment unless it is given one.
QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& twips,
                  Qt::Alignment alignment = {});
QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption,
                        const QRect& twips);

QGroupBox* makeFrame(QWidget* parent, const char* name, const QString& title, const QRect& twips);
/// A sunken, centred label for a value, empty until the value comes.
QLabel* makeValueLabel(QWidget* parent, const QString& name, const QRect& twips);
/// A value label for a reading, on the readings' background. It is named on the accessibility
/// bus by its own text even when that is empty, never by the frame around it.
QLabel* makeReadingLabel(QWidget* parent, const QString& name, const QRect& twips);

/// Places a control at a rectangle in twips within its parent.
void place(QWidget* widget, const QRect& twips);

/// Sets the text of label `index` of an array; a missing label is skipped.
template <typename Array> void setLabelText(Array& labels, int index, const QString& text) {
    if (auto* label = labels.value(index, nullptr)) {
        label->setText(text);
    }
}
/// The same for a text that may be absent: an absent text keeps the label as it was.
template <typename Array>
void setLabelText(Array& labels, int index, const std::optional<QString>& text) {
    if (text) {
        setLabelText(labels, index, *text);
    }
}

} // namespace monitor
