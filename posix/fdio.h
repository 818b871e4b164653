// Whole writes to a file descriptor, shared by the stand-in's facilities.
#ifndef PTRSPEED_POSIX_FDIO_H
#define PTRSPEED_POSIX_FDIO_H

#include <cerrno>
#include <string_view>
#include <unistd.h>

// Writes all of data, going on after a partial write or an interruption.
inline bool write_all(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t n = write(fd, data.data(), data.size());
        if (n == -1) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

#endif
