#pragma once

#include <QRect>

namespace config {

// Geometry of the configuration window in twips. Rows sit on their tab page, the tab box and the
// return button on the window.

/// The four cells of a parameter row, left to right.
struct RowCells {
    QRect caption;
    QRect field;
    QRect entry;
    QRect button;
};

/// Cells of the row at (column, row) of a tab page, relative to the page.
RowCells rowCells(int column, int row);

inline constexpr int kMostRowsOnAPage = 8;
inline constexpr int kMostColumnsOnAPage = 2;

/// Room the rows need on a page, from its top-left corner.
QRect pageContent();

/// The tab box SSTab1 and the return button Command11 below it.
QRect tabBox();
QRect returnButton();

/// Size of the window's client area.
int windowWidth();
int windowHeight();

} // namespace config
