// vx310-publish: follows the reading log and publishes every recorded snapshot to an MQTT broker,
// while the station goes on recording.

#include "PublishOptions.h"
#include "Publisher.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <mosquitto.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>

#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

constexpr int kExitUsage = 2;

#ifdef _WIN32
publish::Publisher* g_publisher = nullptr;
HANDLE g_ended = nullptr;
// Windows ends the process once the handler of a closed console returns, and gives it 5 s.
constexpr DWORD kCloseGraceMs = 4000;

BOOL WINAPI onConsoleEvent(DWORD event) {
    QMetaObject::invokeMethod(g_publisher, [] { g_publisher->stop(0); }, Qt::QueuedConnection);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        WaitForSingleObject(g_ended, kCloseGraceMs);
    }
    return TRUE;
}

/// Ctrl+C, Ctrl+Break and a closed console end the run cleanly: offline said, position kept.
void stopOnSignals(publish::Publisher& publisher) {
    g_publisher = &publisher;
    g_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void signalsDone() {
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    if (g_ended != nullptr) {
        SetEvent(g_ended);
    }
}
#else
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

/// SIGTERM and SIGINT end the run cleanly: offline said, position kept.
void stopOnSignals(publish::Publisher& publisher) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &publisher);
    QObject::connect(notifier, &QSocketNotifier::activated, &publisher, [&publisher, notifier] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        publisher.stop(0);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void signalsDone() {}
#endif

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vx310-publish"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VX310_VERSION));
    const std::optional<publish::Options> options = publish::parseOptions(app.arguments());
    if (!options) {
        return kExitUsage;
    }
    mosquitto_lib_init();
    int status = 0;
    {
        publish::Publisher publisher(*options);
        QObject::connect(&publisher, &publish::Publisher::finished, &app,
                         [&status](int code) {
                             status = code;
                             QCoreApplication::exit(code);
                         });
        stopOnSignals(publisher);
        QMetaObject::invokeMethod(&publisher, &publish::Publisher::start, Qt::QueuedConnection);
        app.exec();
        signalsDone();
    }
    mosquitto_lib_cleanup();
    return status;
}
