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
// Signals that end the process during the wait; the terminal is put back first.
constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr size_t signal_count = sizeof ending_signals / sizeof ending_signals[0];

int terminal = -1;
termios saved;                         // the terminal as it was before the wait
volatile sig_atomic_t in_key_mode = 0; // whether saved still has to be put back
struct sigaction previous[signal_count];
size_t caught = 0; // how many of ending_signals have our handler, in order

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

bool catch_ending_signals()
{
    struct sigaction sa = {};
    sa.sa_handler = on_ending_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : ending_signals)
        sigaddset(&sa.sa_mask, sig);
    for (caught = 0; caught < signal_count; ++caught)
        if (sigaction(ending_signals[caught], &sa, &previous[caught]) == -1)
            return false;
    return true;
}

// Gives back the handlers that were there before.
void release_ending_signals()
{
    for (; caught > 0; --caught)
        sigaction(ending_signals[caught - 1], &previous[caught - 1], nullptr);
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
    if (tcgetattr(terminal, &saved) != -1 && catch_ending_signals()) {
        // Keys arrive one at a time and are not echoed; the interrupt keys still
        // send their signals.
        termios keys = saved;
        keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        keys.c_cc[VMIN] = 1;
        keys.c_cc[VTIME] = 0;
        in_key_mode = 1;
        if (set_terminal(keys) != -1)
            key = read_key();
        restore_terminal();
    }
    release_ending_signals();
    close(terminal);
    terminal = -1;
    return key;
}
