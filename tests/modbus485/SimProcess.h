#pragma once

// Runs the real meter simulator (or any other program) as a child process for tests.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace vx310test {

/// A fresh private folder under /tmp, removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
};

/// A program talked to a line at a time: its standard input and output are ours, its standard
/// error the test's.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Writes line and a line feed to the program's standard input.
    bool writeLine(const std::string& line);
    /// The next line the program writes, without its line feed; empty when none came in time.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    void closeStdin();
    /// Ends the program with SIGTERM and returns its exit status (-1 if it did not end).
    int stop();

  private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    std::string m_buffer;
};

/// The simulator on its own pty; the data folder also becomes this process's XDG_DATA_HOME.
class SimProcess {
  public:
    SimProcess(const std::string& dataHome, std::vector<std::string> args);
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    /// True once the simulator printed its ready line.
    bool ready() const { return !m_link.empty(); }
    const std::string& linkPath() const { return m_link; }

    /// Sends one stdin command and waits until the simulator confirms it.
    bool command(const std::string& line);

    /// Closes the simulator's stdin, as a terminal that goes away would.
    void closeStdin() { m_child->closeStdin(); }

    /// Ends the simulator with SIGTERM and returns its exit status (-1 if it did not end).
    int stop() { return m_child->stop(); }

  private:
    std::unique_ptr<ChildProcess> m_child;
    std::string m_link;
};

struct RunResult {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

/// Runs a program to its end (killed after timeout) and collects its output.
RunResult runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                     const std::string& stdinText = "");

/// The master side of a new pty in raw mode, or -1; its far end is ptsname(fd).
int openRawPty();

/// Milliseconds spent in f.
template <typename F> long long millisecondsTaken(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

} // namespace vx310test
