#pragma once

#include "monitor/LiveDisplay.h"

#include <QRect>

namespace monitor {

// Geometry of the main window in twips. Each control sits in its container: the readings in the
// readings band, the axis captions and the full-scale editor in the axis column, the trend
// buttons in the function column, "参数设置" and "退出" in the command bar, the rest on the window.

/// Size of the window's client area.
int mainWindowWidth();
int mainWindowHeight();

/// The readings band Frame4 "真有效值测量", a reading's value label and its caption at its left.
QRect readingsBand();
QRect readingValue(const ReadingLayout& reading);
QRect readingCaption(const ReadingLayout& reading);

/// The value-axis column Frame2_0, its caption i (0 = bottom) and the full-scale editor.
QRect axisColumn();
QRect axisLabel(int i);
QRect fullScaleCaption();
QRect fullScaleEntry();
QRect fullScaleButton();

/// The chart's frame pt0, its surface pt within it, and the ruler slider along its top edge.
QRect chartFrame();
QRect chartSurface();
QRect rulerSlider();

/// Date and time caption i under the chart, centred under grid line i.
QRect timeCaptionDate(int i);
QRect timeCaptionTime(int i);

/// The function column Frame3 "功能" and its button in row 0 ("F1 缩小") to 6 ("F7 右移").
QRect functionColumn();
QRect functionButton(int row);

/// The command bar Frame1 with "参数设置" and "退出".
QRect commandBar();
QRect configButton();
QRect exitButton();

/// The clock's date and time, the model code with its caption, the alarms (0 or 1) and their
/// caption.
QRect clockDateField();
QRect clockTimeField();
QRect modelCaption();
QRect modelValue();
QRect alarmField(int alarm);
QRect alarmCaption();

} // namespace monitor
