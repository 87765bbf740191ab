#include "SimProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace vx310test {
namespace {

constexpr auto kReadyTimeout = std::chrono::seconds(5);
constexpr auto kCommandTimeout = std::chrono::seconds(2);
constexpr auto kStopTimeout = std::chrono::seconds(3);

pid_t spawn(const std::vector<std::string>& argv, int in, int out, int err) {
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // A test that dies must not leave its simulator holding the test runner's output open.
        if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) {
            _exit(127);
        }
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

/// Waits for pid until the deadline; -1 when it is still running.
int waitFor(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    while (true) {
        int status = 0;
        const pid_t rc = waitpid(pid, &status, WNOHANG);
        if (rc == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (rc < 0 || std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
        usleep(5000);
    }
}

} // namespace

TempDir::TempDir() {
    char pattern[] = "/tmp/vx310-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
        m_path = pattern;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!m_path.empty()) {
        std::filesystem::remove_all(m_path, ec);
    }
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    m_pid = spawn(argv, in[0], out[1], STDERR_FILENO);
    close(in[0]);
    close(out[1]);
    m_stdin = in[1];
    m_stdout = out[0];
}

ChildProcess::~ChildProcess() { stop(); }

int ChildProcess::stop() {
    int status = -1;
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        status = waitFor(m_pid, std::chrono::steady_clock::now() + kStopTimeout);
        if (status < 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }
    for (int* fd : {&m_stdin, &m_stdout}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    return status;
}

void ChildProcess::closeStdin() {
    if (m_stdin >= 0) {
        close(m_stdin);
        m_stdin = -1;
    }
}

bool ChildProcess::writeLine(const std::string& line) {
    const std::string text = line + "\n";
    return m_stdin >= 0 &&
           write(m_stdin, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        const auto newline = m_buffer.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (m_stdout < 0 || left.count() <= 0) {
            return std::nullopt;
        }
        pollfd pfd{m_stdout, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buf[256];
        const ssize_t n = read(m_stdout, buf, sizeof buf);
        if (n <= 0) {
            return std::nullopt;
        }
        m_buffer.append(buf, static_cast<std::size_t>(n));
    }
}

SimProcess::SimProcess(const std::string& dataHome, std::vector<std::string> args) {
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    args.insert(args.begin(), VX310_METER_SIM);
    m_child = std::make_unique<ChildProcess>(args);
    const auto line = m_child->readLine(kReadyTimeout);
    if (line && line->starts_with("ready ")) {
        m_link = line->substr(6);
    }
}

bool SimProcess::command(const std::string& line) {
    if (!m_child->writeLine(line)) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kCommandTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto reply = m_child->readLine(kCommandTimeout);
        if (!reply) {
            return false;
        }
        if (*reply == "ok " + line) {
            return true;
        }
    }
    return false;
}

RunResult runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                     const std::string& stdinText) {
    RunResult result;
    int in[2];
    int out[2];
    int err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return result;
    }
    const pid_t pid = spawn(argv, in[0], out[1], err[1]);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (!stdinText.empty()) {
        [[maybe_unused]] const ssize_t n = write(in[1], stdinText.data(), stdinText.size());
    }
    close(in[1]);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0) {
                char buf[512];
                const ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    sinks[i]->append(buf, static_cast<std::size_t>(n));
                } else {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    close(out[0]);
    close(err[0]);
    result.exitStatus = waitFor(pid, std::chrono::steady_clock::now() + std::chrono::seconds(2));
    if (result.exitStatus < 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return result;
}

int openRawPty() {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    termios tio{};
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || tcgetattr(fd, &tio) != 0) {
        close(fd);
        return -1;
    }
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

} // namespace vx310test
