#include "monitor/PrintRoutine.h"

#include "monitor/PrintPage.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

namespace monitor {

PrintRoutine::PrintRoutine(QWidget& window, QLabel& picture)
    : m_window(window), m_picture(picture), m_choosePrinter([this](QPrinter& printer) {
          QPrintDialog dialog(&printer, &m_window);
          return dialog.exec() == QDialog::Accepted;
      }) {}

bool PrintRoutine::tick(bool& printRequest) {
    if (++m_ticks < kTickCycle) {
        return false;
    }
    m_ticks = 0;
    if (printRequest) {
        printRequest = false;
        // The window as the operator sees it, also on the clipboard for a report.
        const QPixmap picture = m_window.grab();
        QGuiApplication::clipboard()->setPixmap(picture);
        QCoreApplication::processEvents();
        m_picture.hide();
        m_picture.setPixmap(picture);
        print();
        m_picture.clear();
    }
    printRequest = false;
    return true;
}

void PrintRoutine::print() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setFullPage(true);
    printer.setDocName(m_window.windowTitle());
    if (!m_choosePrinter || !m_choosePrinter(printer)) {
        return;
    }
    const QPixmap picture = m_picture.pixmap();
    QPainter painter;
    if (picture.isNull() || !painter.begin(&printer)) {
        return;
    }
    painter.drawPixmap(pictureOnPage(picture.deviceIndependentSize(), printer.logicalDpiX(),
                                     printer.logicalDpiY()),
                       picture, QRectF(picture.rect()));
    painter.end();
}

} // namespace monitor
