#pragma once

class QWidget;

namespace config {

/// Leaves the frame of a shown top-level window with no title text. On X11 the platform fills an
/// empty title with the program's name; this clears that name again. Elsewhere it does nothing.
void clearFrameTitle(QWidget& window);

} // namespace config
