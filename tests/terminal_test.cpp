// The dialogue at a terminal: the wait for a key, and the terminal left as it was.
#include "support.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr auto patience = 10s; // for anything the program should do promptly
constexpr auto settle = 300ms; // long enough for a program that does not wait to end

// The program run on a pseudo-terminal of its own, as its controlling terminal.
class TerminalRun {
public:
    // With piped_input, standard input is a pipe holding it instead of the
    // terminal. Under a shell, the program runs as a job of its own in the
    // foreground, under a parent in the terminal's session, as a shell starts
    // it, so that Ctrl+Z stops it.
    explicit TerminalRun(const std::optional<std::string> &piped_input = std::nullopt, bool under_shell = false)
    {
        if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) == -1)
            throw std::runtime_error("openpty");
        before_ = settings();
        int in[2] = {-1, -1};
        int report[2] = {-1, -1};
        if ((piped_input && pipe(in) == -1) || pipe(report) == -1)
            throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == -1)
            throw std::runtime_error("fork");
        if (pid_ == 0) {
            rlimit no_core = {0, 0};
            setrlimit(RLIMIT_CORE, &no_core);
            if (setsid() == -1 || ioctl(slave_, TIOCSCTTY, 0) == -1)
                _exit(127);
            dup2(piped_input ? in[0] : slave_, STDIN_FILENO);
            dup2(slave_, STDOUT_FILENO);
            dup2(slave_, STDERR_FILENO);
            pid_t program = under_shell ? fork() : 0;
            if (program == 0) {
                if (under_shell) {
                    // A job of its own, in the foreground of the terminal.
                    setpgid(0, 0);
                    signal(SIGTTOU, SIG_IGN);
                    tcsetpgrp(STDOUT_FILENO, getpid());
                    signal(SIGTTOU, SIG_DFL);
                }
                closefrom(STDERR_FILENO + 1);
                execl(PTRSPEED_EXE, PTRSPEED_EXE, static_cast<char *>(nullptr));
                _exit(127);
            }
            // The shell: tells the test which process is the program and ends
            // as the program does.
            setpgid(program, program);
            int status = 0;
            if (write(report[1], &program, sizeof program) != sizeof program || waitpid(program, &status, 0) != program)
                _exit(127);
            _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        }
        close(report[1]);
        program_ = pid_;
        if (under_shell && read(report[0], &program_, sizeof program_) != sizeof program_)
            throw std::runtime_error("no program started");
        close(report[0]);
        if (piped_input) {
            close(in[0]);
            EXPECT_EQ(write(in[1], piped_input->data(), piped_input->size()),
                      static_cast<ssize_t>(piped_input->size()));
            close(in[1]);
        }
    }

    ~TerminalRun()
    {
        if (!status_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(master_);
        close(slave_);
    }

    TerminalRun(const TerminalRun &) = delete;
    TerminalRun &operator=(const TerminalRun &) = delete;

    // Reads what the program writes until text has appeared.
    bool wait_for(const std::string &text)
    {
        auto deadline = std::chrono::steady_clock::now() + patience;
        while (output.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            drain(50);
        }
        return true;
    }

    void type(const std::string &keys)
    {
        ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    bool running()
    {
        if (status_)
            return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_)
            status_ = status;
        return !status_;
    }

    // The program's exit status as waitpid reports it, once it has ended.
    std::optional<int> wait_exit()
    {
        auto deadline = std::chrono::steady_clock::now() + patience;
        while (running() && std::chrono::steady_clock::now() < deadline)
            drain(10);
        drain(0);
        return status_;
    }

    termios settings() const
    {
        termios t = {};
        EXPECT_EQ(tcgetattr(slave_, &t), 0);
        return t;
    }

    // Whether the terminal's settings are now what they were before the program ran.
    bool settings_restored() const
    {
        termios now = settings();
        return now.c_iflag == before_.c_iflag && now.c_oflag == before_.c_oflag && now.c_cflag == before_.c_cflag &&
               now.c_lflag == before_.c_lflag && std::memcmp(now.c_cc, before_.c_cc, sizeof now.c_cc) == 0;
    }

    // Bytes typed that nobody has read yet.
    int unread_input() const
    {
        int n = -1;
        EXPECT_EQ(ioctl(slave_, FIONREAD, &n), 0);
        return n;
    }

    // The program's process (under a shell, not the shell's).
    pid_t pid() const { return program_; }

    // Whether the program is stopped, as Ctrl+Z leaves it under a shell.
    bool wait_stopped()
    {
        auto deadline = std::chrono::steady_clock::now() + patience;
        while (std::chrono::steady_clock::now() < deadline) {
            std::string stat = read_file("/proc/" + std::to_string(program_) + "/stat");
            size_t paren = stat.rfind(')');
            if (paren != std::string::npos && stat.compare(paren, 3, ") T") == 0)
                return true;
            drain(10);
        }
        return false;
    }

    // Waits until the terminal is in the program's key mode: no line editing.
    bool wait_key_mode()
    {
        auto deadline = std::chrono::steady_clock::now() + patience;
        while ((settings().c_lflag & ICANON) != 0U)
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            else
                drain(10);
        return true;
    }

    std::string output;

private:
    void drain(int timeout_ms)
    {
        pollfd p = {master_, POLLIN, 0};
        char buf[1024];
        while (poll(&p, 1, timeout_ms) > 0) {
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0)
                return;
            output.append(buf, static_cast<size_t>(n));
            timeout_ms = 0;
        }
    }

    int master_ = -1, slave_ = -1;
    pid_t pid_ = -1;     // the process started: the program, or the shell above it
    pid_t program_ = -1; // the program
    termios before_ = {};
    std::optional<int> status_;
};

bool exited_normally(const std::optional<int> &status)
{
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

struct KeyCase {
    const char *name;
    std::string key;
};

std::ostream &operator<<(std::ostream &os, const KeyCase &c)
{
    return os << c.name;
}

class AnyKey : public ScratchHome, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(AnyKey, EndsTheWaitUnechoedAndLeavesNothingBehind)
{
    TerminalRun run;
    ASSERT_TRUE(run.wait_for("Enter New speed: "));
    run.type("14\r");
    ASSERT_TRUE(run.wait_for("Hit Enter to exit."));
    std::this_thread::sleep_for(settle);
    ASSERT_TRUE(run.running()) << "the program must wait for a key";

    size_t mark = run.output.size();
    run.type(GetParam().key);
    EXPECT_TRUE(exited_normally(run.wait_exit()));
    EXPECT_EQ(run.output.substr(mark), "") << "the key is not echoed and nothing follows it";
    EXPECT_EQ(run.unread_input(), 0) << "no part of the key is left for the next reader";
    EXPECT_TRUE(run.settings_restored());
    EXPECT_EQ(stored_speed(), 14);
}

INSTANTIATE_TEST_SUITE_P(Keys, AnyKey,
                         ::testing::Values(KeyCase{"enter", "\r"}, KeyCase{"letter", "x"},
                                           KeyCase{"arrow_up", "\x1b[A"}, KeyCase{"function_key_f1", "\x1bOP"},
                                           KeyCase{"function_key_f5", "\x1b[15~"}, KeyCase{"lone_escape", "\x1b"}),
                         [](const auto &info) { return std::string(info.param.name); });

struct SignalCase {
    const char *name;
    std::string key; // typed to raise the signal; empty: sent with kill
    int sig;
};

std::ostream &operator<<(std::ostream &os, const SignalCase &c)
{
    return os << c.name;
}

class SignalDuringWait : public ScratchHome, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(SignalDuringWait, EndsTheProgramAndRestoresTheTerminal)
{
    TerminalRun run;
    ASSERT_TRUE(run.wait_for("Enter New speed: "));
    run.type("\r");
    ASSERT_TRUE(run.wait_for("Hit Enter to exit."));
    std::this_thread::sleep_for(settle);
    ASSERT_TRUE(run.running());

    if (GetParam().key.empty())
        ASSERT_EQ(kill(run.pid(), GetParam().sig), 0);
    else
        run.type(GetParam().key);
    std::optional<int> status = run.wait_exit();
    ASSERT_TRUE(status.has_value()) << "the signal ends the program";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == GetParam().sig) << "status " << *status;
    EXPECT_TRUE(run.settings_restored());
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalDuringWait,
                         ::testing::Values(SignalCase{"ctrl_c", "\x03", SIGINT},
                                           SignalCase{"ctrl_backslash", "\x1c", SIGQUIT},
                                           SignalCase{"sigterm", "", SIGTERM}, SignalCase{"sighup", "", SIGHUP}),
                         [](const auto &info) { return std::string(info.param.name); });

class StopKey : public ScratchHome {};

TEST_F(StopKey, UnderAShellStopsWithTheTerminalRestoredAndGoesOn)
{
    TerminalRun run(std::nullopt, true);
    ASSERT_TRUE(run.wait_for("Enter New speed: "));
    run.type("14\r");
    ASSERT_TRUE(run.wait_for("Hit Enter to exit."));
    ASSERT_TRUE(run.wait_key_mode());

    run.type("\x1a"); // Ctrl+Z
    ASSERT_TRUE(run.wait_stopped());
    EXPECT_TRUE(run.settings_restored()) << "a stopped program leaves the terminal as it found it";

    ASSERT_EQ(kill(run.pid(), SIGCONT), 0);
    ASSERT_TRUE(run.wait_key_mode()) << "going on, it takes the terminal back into key mode";
    size_t mark = run.output.size();
    run.type("x");
    EXPECT_TRUE(exited_normally(run.wait_exit()));
    EXPECT_EQ(run.output.substr(mark), "");
    EXPECT_TRUE(run.settings_restored());
    EXPECT_EQ(stored_speed(), 14);
}

TEST_F(StopKey, WithoutAShellTheWaitGoesOn)
{
    TerminalRun run; // a process group no shell controls is not stopped
    ASSERT_TRUE(run.wait_for("Enter New speed: "));
    run.type("\r");
    ASSERT_TRUE(run.wait_for("Hit Enter to exit."));
    ASSERT_TRUE(run.wait_key_mode());
    size_t mark = run.output.size();
    run.type("\x1a");
    std::this_thread::sleep_for(settle);
    ASSERT_TRUE(run.running());
    ASSERT_TRUE(run.wait_key_mode());
    run.type("x");
    EXPECT_TRUE(exited_normally(run.wait_exit()));
    EXPECT_EQ(run.output.substr(mark), "");
    EXPECT_TRUE(run.settings_restored());
}

class RedirectedInput : public ScratchHome {};

TEST_F(RedirectedInput, StillWaitsForAKeyAtTheTerminal)
{
    TerminalRun run(std::string{}); // standard input ends at once
    ASSERT_TRUE(run.wait_for("Hit Enter to exit."));
    std::this_thread::sleep_for(settle);
    ASSERT_TRUE(run.running()) << "the key is read from the terminal, not from standard input";
    run.type("q");
    EXPECT_TRUE(exited_normally(run.wait_exit()));
    EXPECT_TRUE(run.settings_restored());
    EXPECT_EQ(run.output, "Hello!\r\r\nSpeed is: 10\r\r\nEnter New speed: \r\r\nHit Enter to exit.")
        << "line ends go out as CR LF, which the terminal shows as it does any line end";
}

} // namespace
