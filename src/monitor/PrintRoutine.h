#pragma once

#include <functional>
#include <utility>

class QLabel;
class QPrinter;
class QWidget;

namespace monitor {

/// The main window's print routine: on the third tick of its timer after a request, the window as
/// the operator sees it goes to the clipboard and, through the hidden picture, onto one landscape
/// page.
class PrintRoutine {
  public:
    /// Asks for a printer; false prints nothing.
    using PrinterChooser = std::function<bool(QPrinter&)>;

    /// Ticks of the print timer from a request to the picture.
    static constexpr int kTickCycle = 3;

    /// window is grabbed and parents the print dialog; picture holds the image on its way.
    PrintRoutine(QWidget& window, QLabel& picture);
    PrintRoutine(const PrintRoutine&) = delete;
    PrintRoutine& operator=(const PrintRoutine&) = delete;

    void setPrinterChooser(PrinterChooser choose) { m_choosePrinter = std::move(choose); }

    /// One tick of the print timer. On the third the request is served (if raised) and cleared,
    /// and the answer is true: the timer stops.
    bool tick(bool& printRequest);

  private:
    void print();

    QWidget& m_window;
    QLabel& m_picture;
    PrinterChooser m_choosePrinter;
    int m_ticks = 0;
};

} // namespace monitor
