#include "support.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include <windows.h>

namespace {

constexpr uid_t nobody = 65534;
constexpr int run_timeout_ms = 20000;

void check(bool ok, const char *what)
{
    if (!ok)
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

} // namespace

void ScratchHome::SetUp()
{
    std::string tmpl = (fs::temp_directory_path() / "ptrspeed-test-XXXXXX").string();
    check(mkdtemp(tmpl.data()) != nullptr, "mkdtemp");
    root = tmpl;
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    config_home = root / "config";
    profile_dir = config_home / "ptrspeed";
    profile = profile_dir / "profile";
    fs::create_directory(root / "home");
    check(setenv("HOME", (root / "home").c_str(), 1) == 0, "setenv");
    check(setenv("XDG_CONFIG_HOME", config_home.c_str(), 1) == 0, "setenv");
    // No session bus unless a test starts its own.
    check(unsetenv("DBUS_SESSION_BUS_ADDRESS") == 0, "unsetenv");
    check(setenv("XDG_RUNTIME_DIR", root.c_str(), 1) == 0, "setenv");
}

void ScratchHome::TearDown()
{
    // Folders a test made unwritable must be writable again to be emptied.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_directory() && !it->is_symlink())
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root, ec);
}

void ScratchHome::write_profile(const std::string &text)
{
    fs::create_directories(profile_dir);
    std::ofstream(profile, std::ios::binary) << text;
}

std::string read_file(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::optional<int> stored_speed()
{
    int speed = 0;
    if (SystemParametersInfoA(SPI_GETMOUSESPEED, 0, &speed, 0) == FALSE)
        return std::nullopt;
    return speed;
}

namespace {

// In the child: connects fd as asked, with pipe_end for Stream::pipe.
bool connect(int fd, Stream how, int pipe_end)
{
    switch (how) {
    case Stream::pipe:
        return dup2(pipe_end, fd) != -1;
    case Stream::closed:
        return close(fd) == 0;
    case Stream::full_device: {
        int full = open("/dev/full", O_WRONLY);
        return full != -1 && dup2(full, fd) != -1;
    }
    }
    return false;
}

} // namespace

Outcome run_program(const Launch &run)
{
    int in[2], out[2];
    check(pipe2(in, O_CLOEXEC) == 0 && pipe2(out, O_CLOEXEC) == 0, "pipe2");
    pid_t pid = fork();
    check(pid != -1, "fork");
    if (pid == 0) {
        // A new session has no controlling terminal.
        if (setsid() == -1 || !connect(STDIN_FILENO, run.in, in[0]) || !connect(STDOUT_FILENO, run.out, out[1]) ||
            (!run.cwd.empty() && chdir(run.cwd.c_str()) == -1))
            _exit(127);
        execl(run.exe.c_str(), run.exe.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    // The input fits in the pipe; a program that does not read it must not block us.
    signal(SIGPIPE, SIG_IGN);
    if (!run.input.empty()) {
        EXPECT_EQ(write(in[1], run.input.data(), run.input.size()), static_cast<ssize_t>(run.input.size()));
    }
    close(in[1]);

    // Reads the output until the program closes it, which it does at the latest
    // when it ends.
    Outcome r;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(run_timeout_ms);
    char buf[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p = {out[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            ADD_FAILURE() << "the program did not finish in time";
            kill(pid, SIGKILL);
            break;
        }
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        r.out.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    check(waitpid(pid, &r.status, 0) == pid, "waitpid");
    return r;
}

bool as_unprivileged(const std::function<bool()> &fn)
{
    pid_t pid = fork();
    check(pid != -1, "fork");
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(nobody) == -1 || setuid(nobody) == -1))
            _exit(2);
        _exit(fn() ? 0 : 1);
    }
    int status = 0;
    check(waitpid(pid, &status, 0) == pid, "waitpid");
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1)
        throw std::runtime_error("the unprivileged child failed");
    return WEXITSTATUS(status) == 0;
}

void give_to_unprivileged(const fs::path &path)
{
    if (geteuid() != 0)
        return;
    check(lchown(path.c_str(), nobody, nobody) == 0, "lchown");
    if (fs::is_directory(fs::symlink_status(path)))
        for (const auto &entry : fs::recursive_directory_iterator(path))
            check(lchown(entry.path().c_str(), nobody, nobody) == 0, "lchown");
}
