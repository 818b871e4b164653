#include "profile.h"

#include "fdio.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *app_folder = "ptrspeed";
constexpr const char *file_name = "profile";
constexpr const char *temp_name = "profile.tmp"; // only ever present while a writer holds the lock
constexpr std::string_view speed_key = "MouseSpeed=";
constexpr mode_t folder_mode = 0700;
constexpr mode_t file_mode = 0600;
constexpr std::string_view blanks = " \t\r";

enum class Read { ok, missing, failed };

std::string home_folder()
{
    const char *home = std::getenv("HOME");
    if (home != nullptr && *home != '\0')
        return home;
    const passwd *pw = getpwuid(getuid());
    if (pw != nullptr && pw->pw_dir != nullptr && *pw->pw_dir != '\0')
        return pw->pw_dir;
    return {};
}

// XDG_CONFIG_HOME counts only when it is an absolute path.
std::string config_home()
{
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return xdg;
    std::string home = home_folder();
    return home.empty() ? home : home + "/.config";
}

bool read_all(int fd, std::string &out)
{
    char buf[8192];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n == -1) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        out.append(buf, static_cast<size_t>(n));
    }
}

// A file that is not there, or whose folder is not there, is missing.
Read read_file(int dirfd, const char *name, std::string &out)
{
    int fd = openat(dirfd, name, O_RDONLY | O_CLOEXEC);
    if (fd == -1)
        return errno == ENOENT || errno == ENOTDIR ? Read::missing : Read::failed;
    bool ok = read_all(fd, out);
    if (close(fd) == -1)
        ok = false;
    return ok ? Read::ok : Read::failed;
}

// Creates each missing folder of path.
bool make_folders(const std::string &path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), folder_mode) == -1 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

bool lock(int fd)
{
    while (flock(fd, LOCK_EX) == -1)
        if (errno != EINTR)
            return false;
    return true;
}

bool sync_file(int fd)
{
    while (fsync(fd) == -1)
        if (errno != EINTR)
            return false;
    return true;
}

// Writes text into the temporary file and renames it over the profile.
bool replace_file(int dirfd, std::string_view text)
{
    // A temporary file left by a writer that was killed is stale: we hold the lock.
    if (unlinkat(dirfd, temp_name, 0) == -1 && errno != ENOENT)
        return false;
    int fd = openat(dirfd, temp_name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, file_mode);
    if (fd == -1)
        return false;
    bool ok = write_all(fd, text) && sync_file(fd);
    if (close(fd) == -1)
        ok = false;
    if (ok && renameat(dirfd, temp_name, dirfd, file_name) == -1)
        ok = false;
    if (!ok) {
        unlinkat(dirfd, temp_name, 0); // best effort: the set fails either way
        return false;
    }
    return sync_file(dirfd); // makes the rename itself durable
}

std::string_view trim(std::string_view s)
{
    size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// Calls f(line) for each line of text, without its line end.
template <typename F> void for_each_line(std::string_view text, F f)
{
    while (!text.empty()) {
        size_t end = text.find('\n');
        f(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

} // namespace

namespace profile {

std::string directory()
{
    std::string base = config_home();
    return base.empty() ? base : base + "/" + app_folder;
}

int parse_speed(std::string_view text)
{
    int speed = default_speed;
    for_each_line(text, [&](std::string_view line) {
        if (line.substr(0, speed_key.size()) != speed_key)
            return;
        std::string_view value = trim(line.substr(speed_key.size()));
        int n = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        bool valid = ec == std::errc() && end == value.data() + value.size() && !value.empty() && n >= min_speed &&
                     n <= max_speed;
        speed = valid ? n : default_speed; // the last MouseSpeed line counts
    });
    return speed;
}

std::string with_speed(std::string_view text, int speed)
{
    std::string out;
    bool written = false;
    for_each_line(text, [&](std::string_view line) {
        if (line.substr(0, speed_key.size()) == speed_key) {
            if (written)
                return; // a second MouseSpeed line would contradict the first
            written = true;
            out.append(speed_key).append(std::to_string(speed));
        } else {
            out.append(line);
        }
        out.push_back('\n');
    });
    if (!written)
        out.append(speed_key).append(std::to_string(speed)).push_back('\n');
    return out;
}

bool read_speed(int &speed)
{
    std::string folder = directory();
    std::string text;
    Read r = folder.empty() ? Read::missing : read_file(AT_FDCWD, (folder + "/" + file_name).c_str(), text);
    if (r == Read::failed)
        return false;
    speed = parse_speed(text);
    return true;
}

bool write_speed(int speed)
{
    std::string folder = directory();
    if (folder.empty() || !make_folders(folder))
        return false;
    // The profile's own folder is never reached through a symbolic link.
    int dirfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirfd == -1)
        return false;
    std::string text;
    bool ok = lock(dirfd) && read_file(dirfd, file_name, text) != Read::failed &&
              replace_file(dirfd, with_speed(text, speed));
    if (close(dirfd) == -1) // also releases the lock
        ok = false;
    return ok;
}

} // namespace profile
