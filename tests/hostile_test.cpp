// The program in a hostile environment: it ends with status 0, stores the old
// or the intended value, and writes nothing outside the profile's folder.
#include "support.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Every path under root with what it holds, without looking inside skip.
std::map<std::string, std::string> snapshot(const fs::path &root, const fs::path &skip)
{
    std::map<std::string, std::string> found;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path &p = it->path();
        if (p == skip && !it->is_symlink()) {
            it.disable_recursion_pending();
            continue;
        }
        std::string &what = found[p.string()];
        if (it->is_symlink())
            what = "link to " + fs::read_symlink(p).string();
        else if (it->is_regular_file())
            what = read_file(p);
        else
            what = "folder";
    }
    return found;
}

struct HostileCase {
    const char *name;
    void (*setup)(ScratchHome &);
    Stream in;
    Stream out;
    const char *input;
    const char *profile_folder; // relative to the scratch root: where the set may write
    const char *profile_after;  // relative to the scratch root: the file that holds the speed afterwards
    std::string text_after;     // its contents
};

std::ostream &operator<<(std::ostream &os, const HostileCase &c)
{
    return os << c.name;
}

// A profile of some megabytes of the user's own lines.
std::string many_lines()
{
    constexpr size_t megabytes = 4;
    std::string s;
    for (int i = 0; s.size() < (megabytes << 20); ++i)
        s += "Line" + std::to_string(i) + "=" + std::string(60, 'x') + "\n";
    return s;
}

std::string with_nul()
{
    return {"Odd=a\0b\n", 8};
}

class Hostile : public ScratchHome, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(Hostile, EndsNormallyAndWritesOnlyTheProfile)
{
    const HostileCase &c = GetParam();
    write_profile("MouseSpeed=12\n");
    c.setup(*this);
    fs::path folder = root / c.profile_folder;
    auto before = snapshot(root, folder);

    Outcome r = run_program(Launch{c.input, c.in, c.out, PTRSPEED_EXE, root.string()});
    EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << "status " << r.status;
    EXPECT_EQ(read_file(root / c.profile_after), c.text_after);
    EXPECT_EQ(snapshot(root, folder), before) << "something outside " << folder << " changed";
}

INSTANTIATE_TEST_SUITE_P(
    Environments, Hostile,
    ::testing::Values(
        HostileCase{"stdin_closed", [](ScratchHome &) {}, Stream::closed, Stream::pipe, "", "config/ptrspeed",
                    "config/ptrspeed/profile", "MouseSpeed=12\n"},
        // With its descriptor closed, what is written must not land in a file
        // the program opens, such as the new profile.
        HostileCase{"stdout_closed", [](ScratchHome &) {}, Stream::pipe, Stream::closed, "15\n", "config/ptrspeed",
                    "config/ptrspeed/profile", "MouseSpeed=15\n"},
        HostileCase{"stdout_full_device", [](ScratchHome &) {}, Stream::pipe, Stream::full_device, "15\n",
                    "config/ptrspeed", "config/ptrspeed/profile", "MouseSpeed=15\n"},
        HostileCase{"profile_is_symlink",
                    [](ScratchHome &h) {
                        std::ofstream(h.root / "target") << "MouseSpeed=3\n";
                        fs::remove(h.profile);
                        fs::create_symlink(h.root / "target", h.profile);
                    },
                    Stream::pipe, Stream::pipe, "15\n", "config/ptrspeed", "config/ptrspeed/profile",
                    "MouseSpeed=15\n"},
        HostileCase{"folder_is_symlink",
                    [](ScratchHome &h) {
                        fs::create_directories(h.root / "elsewhere");
                        std::ofstream(h.root / "elsewhere" / "profile") << "MouseSpeed=3\n";
                        fs::remove_all(h.profile_dir);
                        fs::create_directory_symlink(h.root / "elsewhere", h.profile_dir);
                    },
                    Stream::pipe, Stream::pipe, "15\n", "config/ptrspeed", "elsewhere/profile", "MouseSpeed=3\n"},
        HostileCase{"xdg_relative", [](ScratchHome &) { setenv("XDG_CONFIG_HOME", "config", 1); }, Stream::pipe,
                    Stream::pipe, "15\n", "home/.config", "home/.config/ptrspeed/profile", "MouseSpeed=15\n"},
        HostileCase{"xdg_empty", [](ScratchHome &) { setenv("XDG_CONFIG_HOME", "", 1); }, Stream::pipe, Stream::pipe,
                    "15\n", "home/.config", "home/.config/ptrspeed/profile", "MouseSpeed=15\n"},
        HostileCase{"profile_of_megabytes", [](ScratchHome &h) { h.write_profile(many_lines() + "MouseSpeed=12\n"); },
                    Stream::pipe, Stream::pipe, "15\n", "config/ptrspeed", "config/ptrspeed/profile",
                    many_lines() + "MouseSpeed=15\n"},
        HostileCase{"profile_with_nul_byte", [](ScratchHome &h) { h.write_profile(with_nul() + "MouseSpeed=12\n"); },
                    Stream::pipe, Stream::pipe, "15\n", "config/ptrspeed", "config/ptrspeed/profile",
                    with_nul() + "MouseSpeed=15\n"}),
    [](const auto &info) { return std::string(info.param.name); });

class HostileHome : public ScratchHome {};

// With neither HOME nor XDG_CONFIG_HOME the profile is in the home folder of
// the password database; the unprivileged user's is not there to write to.
TEST_F(HostileHome, NoHomeVariablesEndsNormally)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to become a user whose home folder no test may touch";
    fs::path exe = root / "ptrspeed";
    fs::copy_file(PTRSPEED_EXE, exe);
    auto before = snapshot(root, {});
    EXPECT_TRUE(as_unprivileged([&] {
        if (unsetenv("HOME") != 0 || unsetenv("XDG_CONFIG_HOME") != 0)
            return false;
        Outcome r = run_program(Launch{"15\n", Stream::pipe, Stream::pipe, exe.string(), "/"});
        return WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0 &&
               r.out == "Hello!\r\nSpeed is: 10\r\nEnter New speed: \r\nHit Enter to exit.";
    }));
    EXPECT_EQ(snapshot(root, {}), before);
}

} // namespace
