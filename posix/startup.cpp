// The console start-up: what the runtime does before main runs.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "textmode.h"

namespace {

constexpr const char *null_device = "/dev/null";

FILE *plain_stdin = nullptr;
FILE *plain_stdout = nullptr;

// A standard stream whose descriptor is closed reads as empty and swallows what
// is written, instead of lending its number to the next file opened.
void fill_closed_standard_fds()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open(null_device, O_RDWR) == -1)
            return; // open takes the lowest free number, fd; without it nothing more can be done
}

// Part of the exit processing: flushes and closes the text mode streams, and
// hands the standard streams back to the plain ones for whatever runs later.
void close_text_streams()
{
    if (stdout != plain_stdout) {
        fclose(stdout); // a write error here has no one left to tell
        stdout = plain_stdout;
    }
    if (stdin != plain_stdin) {
        fclose(stdin);
        stdin = plain_stdin;
    }
}

[[gnu::constructor]] void console_startup()
{
    fill_closed_standard_fds();
    // A reader that went away makes writes fail, as on Windows, instead of
    // ending the process.
    if (signal(SIGPIPE, SIG_IGN) == SIG_ERR)
        return; // cannot happen for SIGPIPE; the streams are then left as they are
    plain_stdin = stdin;
    plain_stdout = stdout;
    if (atexit(close_text_streams) != 0)
        return;
    if (FILE *in = open_text_stream(STDIN_FILENO, "r"))
        stdin = in;
    if (FILE *out = open_text_stream(STDOUT_FILENO, "w"))
        stdout = out;
}

} // namespace
