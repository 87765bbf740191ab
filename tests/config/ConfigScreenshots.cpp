// Pictures of the configuration window's four pages against the simulator, for the README:
// vx310-config-screenshots <folder> writes config-<page>.png there.

#include "SimProcess.h"
#include "config/CONFIG1.h"
#include "link/MeasurementStore.h"
#include "link/MeterAccess.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPainter>
#include <QTabWidget>

#include <cstdio>

namespace {

const char* const kPageFiles[] = {"config-relay.png", "config-transmitter.png", "config-input.png",
                                  "config-communication.png"};

/// The window with the drop-down of list open over it; a popup is a window of its own.
QPixmap withOpenList(QWidget* window, QComboBox* list) {
    list->showPopup();
    QCoreApplication::processEvents();
    QWidget* popup = list->view()->window();
    const QPixmap shot = window->grab();
    const QPixmap popupShot = popup->grab();
    const QPoint at = popup->mapToGlobal(QPoint(0, 0)) - window->mapToGlobal(QPoint(0, 0));
    const QRect canvas = shot.rect().united(QRect(at, popupShot.size()));
    QPixmap out(canvas.size());
    out.fill(window->palette().color(QPalette::Window));
    QPainter painter(&out);
    painter.drawPixmap(-canvas.topLeft(), shot);
    painter.drawPixmap(at - canvas.topLeft(), popupShot);
    painter.end();
    list->hidePopup();
    return out;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vx310-config-screenshots <folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));

    vx310test::TempDir data;
    vx310test::SimProcess sim(data.path(), {});
    if (!sim.ready()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    meterlink::SharedState state;
    meterlink::MeterAccess meter;
    state.store.PortSet.set(meterlink::kPortNumber, 1);
    state.store.PortSet.set(meterlink::kMeterAddress, 1);
    meter.OpenPort_Modbus(1, 1, 0);

    auto* window = new config::CONFIG1(state, meter, nullptr);
    window->show();
    // An entry typed by the operator and an open list show what each column holds.
    if (QLineEdit* entry = window->D_4wT.value(18, nullptr)) {
        entry->setText(QStringLiteral("600"));
    }
    QElapsedTimer clock;
    clock.start();
    while (window->D_4WRW.value(27, nullptr)->text().isEmpty() && clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    int failures = 0;
    for (int page = 0; page < window->SSTab1->count(); ++page) {
        window->SSTab1->setCurrentIndex(page);
        QCoreApplication::processEvents();
        const QString file = folder.filePath(QString::fromLatin1(kPageFiles[page]));
        const QPixmap shot = page == 0 ? withOpenList(window, window->listOf(0)) : window->grab();
        if (!shot.save(file)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(file));
            ++failures;
        }
    }
    window->Command11_Click();
    QCoreApplication::processEvents();
    return failures == 0 ? 0 : 1;
}
