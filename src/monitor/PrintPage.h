#pragma once

#include <QRectF>
#include <QSizeF>

namespace monitor {

/// Where the station's picture goes on a printed page, in the printer's device pixels: its top
/// left corner 550 by 20 twips from the paper's corner, at its own size (15 twips per logical
/// pixel of the screen).
QRectF pictureOnPage(QSizeF pictureLogicalPixels, double printerDpiX, double printerDpiY);

} // namespace monitor
