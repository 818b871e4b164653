// The whole dialogue, run as a user would with input and output redirected
// and no terminal: exact output, the value stored afterwards, exit status 0.
#include "support.h"

#include <sys/wait.h>

namespace {

std::string dialogue(int shown)
{
    return "Hello!\r\nSpeed is: " + std::to_string(shown) + "\r\nEnter New speed: \r\nHit Enter to exit.";
}

struct InputCase {
    const char *name;
    std::string input;
    int stored; // the speed afterwards; the profile starts at 12
};

std::ostream &operator<<(std::ostream &os, const InputCase &c)
{
    return os << c.name;
}

class Dialogue : public ScratchHome, public ::testing::WithParamInterface<InputCase> {};

TEST_P(Dialogue, ShowsAsksAndStores)
{
    write_profile("MouseSpeed=12\n");
    Outcome r = run_program(GetParam().input);
    EXPECT_EQ(r.out, dialogue(12));
    EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << "status " << r.status;
    EXPECT_EQ(stored_speed(), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Inputs, Dialogue,
                         ::testing::Values(InputCase{"number", "15\n", 15}, InputCase{"lowest", "1\n", 1},
                                           InputCase{"highest", "20\n", 20},
                                           InputCase{"blanks_sign_letters", "   +15abc\n", 15},
                                           InputCase{"c_white_space", "\t\v\f\r 5\n", 5},
                                           InputCase{"crlf", "15\r\n", 15}, InputCase{"no_line_end", "16", 16},
                                           InputCase{"only_first_line", "abc\n15\n", 12},
                                           // Off the scale: passed on, refused by the service, output unchanged.
                                           InputCase{"negative", "-3\n", 12}, InputCase{"zero", "0\n", 12},
                                           InputCase{"above_scale", "99\n", 12}, InputCase{"above_by_one", "21\n", 12},
                                           // Beyond 32 bits: held off the scale, never wrapped into it.
                                           InputCase{"huge_would_wrap_to_15", "4294967311\n", 12},
                                           InputCase{"huge_negative_would_wrap_to_15", "-4294967281\n", 12},
                                           InputCase{"enormous", std::string(200, '9') + "\n", 12},
                                           // No number: the queried value is written back.
                                           InputCase{"letters", "abc\n", 12}, InputCase{"empty_line", "\n", 12},
                                           InputCase{"sign_only", "-\n", 12}, InputCase{"end_of_input", "", 12},
                                           // The line limit: 254 characters are read, the rest never.
                                           InputCase{"number_within_limit", std::string(253, ' ') + "7\n", 7},
                                           InputCase{"number_past_limit", std::string(254, ' ') + "7\n", 12},
                                           InputCase{"digits_cut_at_limit", std::string(252, ' ') + "156\n", 15}),
                         [](const auto &info) { return std::string(info.param.name); });

class DialogueFresh : public ScratchHome {};

TEST_F(DialogueFresh, NoProfileShowsTheDefault)
{
    Outcome r = run_program("14\n");
    EXPECT_EQ(r.out, dialogue(10));
    EXPECT_EQ(stored_speed(), 14);
    EXPECT_EQ(read_file(profile), "MouseSpeed=14\n");
}

TEST_F(DialogueFresh, FailedQueryShowsZeroAndNeverStoresIt)
{
    fs::create_directories(profile); // there, but unreadable as a profile
    Outcome r = run_program("abc\n");
    EXPECT_EQ(r.out, dialogue(0));
    EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0);
    EXPECT_TRUE(fs::is_directory(profile)) << "nothing was stored";
}

TEST_F(DialogueFresh, UnwritableProfileStillEndsNormally)
{
    write_profile("MouseSpeed=12\n");
    give_to_unprivileged(config_home);
    fs::permissions(profile_dir, fs::perms::owner_read | fs::perms::owner_exec);
    fs::path exe = root / "ptrspeed"; // where the unprivileged user may run it
    fs::copy_file(PTRSPEED_EXE, exe);
    EXPECT_TRUE(as_unprivileged([&] {
        Outcome r = run_program("15\n", exe);
        return r.out == dialogue(12) && WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0;
    }));
    EXPECT_EQ(read_file(profile), "MouseSpeed=12\n");
}

} // namespace
