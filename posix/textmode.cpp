#include "textmode.h"

#include "fdio.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

constexpr size_t chunk_size = 4096;

struct TextIn {
    int fd;
    char raw[chunk_size];
    size_t pos = 0, len = 0;
    bool at_end = false;
};

// Reads more after the bytes not yet taken: -1 on error, 0 at end of input,
// else the count read.
ssize_t fill(TextIn &in)
{
    std::memmove(in.raw, in.raw + in.pos, in.len - in.pos);
    in.len -= in.pos;
    in.pos = 0;
    ssize_t n = 0;
    while ((n = read(in.fd, in.raw + in.len, sizeof in.raw - in.len)) == -1 && errno == EINTR) {
    }
    if (n > 0)
        in.len += static_cast<size_t>(n);
    in.at_end = n == 0;
    return n;
}

ssize_t text_read(void *cookie, char *buf, size_t size)
{
    TextIn &in = *static_cast<TextIn *>(cookie);
    size_t n = 0;
    while (n < size) {
        size_t left = in.len - in.pos;
        // A carriage return at the end of what was read may be the first half
        // of a line end: what follows it decides.
        if (left == 0 || (left == 1 && in.raw[in.pos] == '\r' && !in.at_end)) {
            if (n > 0)
                break; // hand over what is here rather than wait for more
            ssize_t got = fill(in);
            if (got == -1)
                return -1;
            if (got == 0 && left == 0)
                break;
            continue;
        }
        char c = in.raw[in.pos++];
        if (c == '\r' && in.pos < in.len && in.raw[in.pos] == '\n') {
            c = '\n';
            ++in.pos;
        }
        buf[n++] = c;
    }
    return static_cast<ssize_t>(n);
}

ssize_t text_write(void *cookie, const char *buf, size_t size)
{
    int fd = *static_cast<int *>(cookie);
    char out[chunk_size];
    size_t i = 0;
    while (i < size) {
        size_t n = 0;
        while (i < size && n + 2 <= sizeof out) {
            if (buf[i] == '\n')
                out[n++] = '\r';
            out[n++] = buf[i++];
        }
        if (!write_all(fd, {out, n}))
            return 0; // a write error
    }
    return static_cast<ssize_t>(size);
}

int close_in(void *cookie)
{
    delete static_cast<TextIn *>(cookie);
    return 0;
}

int close_out(void *cookie)
{
    delete static_cast<int *>(cookie);
    return 0;
}

} // namespace

FILE *open_text_stream(int fd, const char *mode)
{
    if (mode[0] == 'r') {
        auto *in = new TextIn{fd, {}, 0, 0, false};
        FILE *f = fopencookie(in, "r", {text_read, nullptr, nullptr, close_in});
        if (f == nullptr)
            delete in;
        return f;
    }
    auto *out = new int(fd);
    FILE *f = fopencookie(out, "w", {nullptr, text_write, nullptr, close_out});
    if (f == nullptr)
        delete out;
    return f;
}
