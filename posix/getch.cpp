// The console key read: one keystroke from the terminal, without echo.
#include <conio.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr const char *terminal_path = "/dev/tty";
// One read of this many bytes takes a whole key, also one that sends an escape
// sequence (arrows, function keys), so nothing of it is left for the shell.
constexpr size_t key_bytes = 32;
int terminal = -1;
termios saved;                         // the terminal as it was before the wait
termios keys;                          // the terminal during the wait
volatile sig_atomic_t in_key_mode = 0; // whether saved still has to be put back

int set_terminal(const termios &t)
{
    int r = 0;
    while ((r = tcsetattr(terminal, TCSANOW, &t)) == -1 && errno == EINTR) {
    }
    return r;
}

// Puts the terminal back as it was. Safe to call more than once, and from a
// signal handler: it makes only async-signal-safe calls.
void restore_terminal()
{
    if (in_key_mode != 0) {
        set_terminal(saved);
        in_key_mode = 0;
    }
}

// Puts the terminal back, then lets the signal take its default course.
void on_ending_signal(int sig)
{
    int saved_errno = errno;
    restore_terminal();
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig); // delivered as soon as this handler returns
    errno = saved_errno;
}

// Ctrl+Z: puts the terminal back while the process is stopped, and takes it
// into key mode again when the process goes on. A process group that no shell
// controls is not stopped; the wait then simply goes on.
void on_stop_signal(int sig)
{
    int saved_errno = errno;
    bool was_in_key_mode = in_key_mode != 0;
    restore_terminal();
    struct sigaction dfl = {};
    struct sigaction ours = {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, &ours);
    raise(sig);
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, sig);
    sigprocmask(SIG_UNBLOCK, &just_this, nullptr); // the process stops here, until SIGCONT
    sigaction(sig, &ours, nullptr);
    if (was_in_key_mode) {
        in_key_mode = 1;
        set_terminal(keys);
    }
    errno = saved_errno;
}

struct Catch {
    int sig;
    void (*handler)(int);
};

// The signals that stop or end the process during the wait.
constexpr Catch catches[] = {{SIGINT, on_ending_signal},
                             {SIGTERM, on_ending_signal},
                             {SIGHUP, on_ending_signal},
                             {SIGQUIT, on_ending_signal},
                             {SIGTSTP, on_stop_signal}};
constexpr size_t catch_count = sizeof catches / sizeof catches[0];
struct sigaction previous[catch_count];
size_t caught = 0; // how many of catches are in force, in order

bool catch_signals()
{
    struct sigaction sa = {};
    sigemptyset(&sa.sa_mask);
    for (const Catch &c : catches) // one handler at a time
        sigaddset(&sa.sa_mask, c.sig);
    for (caught = 0; caught < catch_count; ++caught) {
        sa.sa_handler = catches[caught].handler;
        if (sigaction(catches[caught].sig, &sa, &previous[caught]) == -1)
            return false;
    }
    return true;
}

// Gives back the handlers that were there before.
void release_signals()
{
    for (; caught > 0; --caught)
        sigaction(catches[caught - 1].sig, &previous[caught - 1], nullptr);
}

int read_key()
{
    unsigned char key[key_bytes];
    ssize_t n = 0;
    while ((n = read(terminal, key, sizeof key)) == -1 && errno == EINTR) {
    }
    return n > 0 ? key[0] : -1;
}

} // namespace

extern "C" int _getch()
{
    // Without a terminal there is no key to wait for.
    terminal = open(terminal_path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal == -1)
        return -1;
    int key = -1;
    if (tcgetattr(terminal, &saved) != -1 && catch_signals()) {
        // Keys arrive one at a time and are not echoed; the interrupt keys still
        // send their signals.
        keys = saved;
        keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        keys.c_cc[VMIN] = 1;
        keys.c_cc[VTIME] = 0;
        in_key_mode = 1;
        if (set_terminal(keys) != -1)
            key = read_key();
        restore_terminal();
    }
    release_signals();
    close(terminal);
    terminal = -1;
    return key;
}
