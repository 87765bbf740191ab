#pragma once

#include <memory>
#include <utility>

namespace common {

/// Keeps a timer tick that yields to pending events from starting again inside itself: a tick
/// that would start while another one waits at a yield is skipped. The running mark is shared
/// with the tick on the stack, so an owner deleted under its own tick leaves nothing dangling.
class TickGuard {
  public:
    /// Runs tick() unless a tick of this guard is already running; false when it was skipped.
    template <typename Tick> bool run(Tick&& tick) {
        if (*m_running) {
            return false;
        }
        const std::shared_ptr<bool> running = m_running;
        const Release release{*running};
        *running = true;
        std::forward<Tick>(tick)();
        return true;
    }

    [[nodiscard]] bool running() const { return *m_running; }

  private:
    struct Release {
        bool& running;
        ~Release() { running = false; }
    };

    std::shared_ptr<bool> m_running = std::make_shared<bool>(false);
};

} // namespace common
