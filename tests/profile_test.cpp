// The user profile: reading, rewriting and storing the speed.
#include "support.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "profile.h"

namespace {

struct ParseCase {
    const char *name;
    std::string text;
    int speed;
};

std::ostream &operator<<(std::ostream &os, const ParseCase &c)
{
    return os << c.name;
}

class ParseSpeed : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseSpeed, ReadsTheStoredValueOrTheDefault)
{
    EXPECT_EQ(profile::parse_speed(GetParam().text), GetParam().speed);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseSpeed,
    ::testing::Values(ParseCase{"empty", "", 10}, ParseCase{"plain", "MouseSpeed=14\n", 14},
                      ParseCase{"no_line_end", "MouseSpeed=14", 14}, ParseCase{"lowest", "MouseSpeed=1\n", 1},
                      ParseCase{"highest", "MouseSpeed=20\n", 20}, ParseCase{"zero", "MouseSpeed=0\n", 10},
                      ParseCase{"above", "MouseSpeed=21\n", 10}, ParseCase{"negative", "MouseSpeed=-3\n", 10},
                      ParseCase{"huge", "MouseSpeed=4294967311\n", 10}, ParseCase{"letters", "MouseSpeed=abc\n", 10},
                      ParseCase{"trailing_letters", "MouseSpeed=7x\n", 10}, ParseCase{"no_value", "MouseSpeed=\n", 10},
                      ParseCase{"blanks_and_cr", "MouseSpeed= 7 \r\n", 7},
                      ParseCase{"other_case", "mousespeed=7\n", 10},
                      ParseCase{"among_others", "Theme=dark\nMouseSpeed=5\nSize=3\n", 5},
                      ParseCase{"last_counts", "MouseSpeed=5\nMouseSpeed=6\n", 6},
                      ParseCase{"nul_byte",
                                std::string("MouseSpeed=1\0"
                                            "5\n",
                                            15),
                                10},
                      ParseCase{"binary", std::string("\0\xff\n=\n\n", 6), 10}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(WithSpeed, KeepsOtherLinesAndTheirOrder)
{
    EXPECT_EQ(profile::with_speed("", 7), "MouseSpeed=7\n");
    EXPECT_EQ(profile::with_speed("A=1\nMouseSpeed=3\r\n# note\n", 7), "A=1\nMouseSpeed=7\n# note\n");
    EXPECT_EQ(profile::with_speed("A=1\n\nB=2", 7), "A=1\n\nB=2\nMouseSpeed=7\n");
    EXPECT_EQ(profile::with_speed("MouseSpeed=3\nA=1\nMouseSpeed=4\n", 7), "MouseSpeed=7\nA=1\n");
}

class Profile : public ScratchHome {};

TEST_F(Profile, RoundTripCreatesPrivateFolderAndFile)
{
    fs::remove_all(config_home);
    int speed = 0;
    ASSERT_TRUE(profile::read_speed(speed));
    EXPECT_EQ(speed, 10) << "a missing profile reads as the default";

    ASSERT_TRUE(profile::write_speed(17));
    ASSERT_TRUE(profile::read_speed(speed));
    EXPECT_EQ(speed, 17);
    EXPECT_EQ(read_file(profile), "MouseSpeed=17\n");

    struct stat st = {};
    ASSERT_EQ(stat(profile_dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(stat(config_home.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(stat(profile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(profile_dir), {}), 1) << "only the profile is left";
}

TEST_F(Profile, RewriteKeepsUnknownLines)
{
    write_profile("# mine\nMouseSpeed=4\nTheme=dark\n");
    ASSERT_TRUE(profile::write_speed(9));
    EXPECT_EQ(read_file(profile), "# mine\nMouseSpeed=9\nTheme=dark\n");
}

TEST_F(Profile, UnreadableProfileFailsTheRead)
{
    fs::create_directories(profile); // exists, but no file can be read there
    int speed = 0;
    EXPECT_FALSE(profile::read_speed(speed));
    EXPECT_FALSE(profile::write_speed(5)) << "rewriting would lose what cannot be read";
}

TEST_F(Profile, StaleTemporaryFileIsRemovedByTheNextWrite)
{
    write_profile("MouseSpeed=4\n");
    std::ofstream(profile_dir / "profile.tmp") << "MouseSp"; // a writer killed half-way
    int speed = 0;
    ASSERT_TRUE(profile::read_speed(speed));
    EXPECT_EQ(speed, 4) << "the half-written file is not read";
    ASSERT_TRUE(profile::write_speed(6));
    EXPECT_EQ(read_file(profile), "MouseSpeed=6\n");
    EXPECT_FALSE(fs::exists(profile_dir / "profile.tmp"));
}

TEST_F(Profile, UnwritableFolderFailsAndKeepsTheOldProfile)
{
    const std::string old = "MouseSpeed=4\nTheme=dark\n";
    write_profile(old);
    give_to_unprivileged(config_home);
    fs::permissions(profile_dir, fs::perms::owner_read | fs::perms::owner_exec);

    EXPECT_FALSE(as_unprivileged([] { return profile::write_speed(6); }));
    EXPECT_TRUE(as_unprivileged([] {
        int speed = 0;
        return profile::read_speed(speed) && speed == 4;
    })) << "the old value still reads";
    EXPECT_EQ(read_file(profile), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(profile_dir), {}), 1) << "no temporary file is left";
}

TEST_F(Profile, SymlinkedFolderIsNotWrittenThrough)
{
    fs::path elsewhere = root / "elsewhere";
    fs::create_directories(elsewhere);
    fs::create_directories(config_home);
    fs::create_directory_symlink(elsewhere, profile_dir);
    EXPECT_FALSE(profile::write_speed(6));
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(Profile, ReplacesASymlinkedProfileInsteadOfItsTarget)
{
    fs::path target = root / "target";
    std::ofstream(target) << "MouseSpeed=3\n";
    fs::create_directories(profile_dir);
    fs::create_symlink(target, profile);
    ASSERT_TRUE(profile::write_speed(8));
    EXPECT_EQ(read_file(target), "MouseSpeed=3\n");
    EXPECT_FALSE(fs::is_symlink(profile));
    EXPECT_EQ(read_file(profile), "MouseSpeed=8\n");
}

struct LocationCase {
    const char *name;
    const char *xdg; // nullptr: unset
    const char *home;
    const char *expected; // relative to the scratch root; nullptr: the password database's home
};

std::ostream &operator<<(std::ostream &os, const LocationCase &c)
{
    return os << c.name;
}

class Location : public ScratchHome, public ::testing::WithParamInterface<LocationCase> {};

TEST_P(Location, FollowsTheConfigFolderRules)
{
    const LocationCase &c = GetParam();
    auto set = [this](const char *var, const char *value) {
        if (value == nullptr)
            unsetenv(var);
        else
            setenv(var, value[0] == '/' ? (root.string() + value).c_str() : value, 1);
    };
    set("XDG_CONFIG_HOME", c.xdg);
    set("HOME", c.home);
    std::string expected;
    if (c.expected != nullptr) {
        expected = root.string() + c.expected;
    } else {
        const passwd *pw = getpwuid(getuid());
        ASSERT_NE(pw, nullptr);
        expected = std::string(pw->pw_dir) + "/.config/ptrspeed";
    }
    EXPECT_EQ(profile::directory(), expected);
}

INSTANTIATE_TEST_SUITE_P(Environments, Location,
                         ::testing::Values(LocationCase{"xdg", "/xdg", "/home", "/xdg/ptrspeed"},
                                           LocationCase{"xdg_unset", nullptr, "/home", "/home/.config/ptrspeed"},
                                           LocationCase{"xdg_empty", "", "/home", "/home/.config/ptrspeed"},
                                           LocationCase{"xdg_relative", "rel/xdg", "/home", "/home/.config/ptrspeed"},
                                           LocationCase{"home_unset", nullptr, nullptr, nullptr}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
