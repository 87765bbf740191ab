#include <QApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>

namespace {

// Qt's painting hands large fills to its own pool threads. When the application goes, the pool
// lets them go, but each still frees its per-thread data on its way out; leaving first makes
// that data look lost to the sanitizers' leak check. Give them a moment (never more than two
// seconds) to be gone.
void awaitPoolThreads() {
    using namespace std::chrono_literals;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    std::error_code error;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::filesystem::directory_iterator tasks("/proc/self/task", error);
        if (error || std::distance(tasks, std::filesystem::directory_iterator()) <= 1) {
            return;
        }
        std::this_thread::sleep_for(5ms);
    }
}

} // namespace

// Window tests need one application object for the whole run, created before any widget.
int main(int argc, char* argv[]) {
    // Windows under test never need a screen, not even when the suite is only listed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int result = 0;
    {
        QApplication application(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    awaitPoolThreads();
    return result;
}
