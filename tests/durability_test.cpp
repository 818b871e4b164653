// The stored setting under crashes and concurrent writers: never torn, never
// lost, no temporary files left behind.
#include "support.h"

#include <csignal>
#include <random>
#include <set>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "profile.h"

namespace {

// A profile with the given speed and lines of the user's own.
std::string text_for(int speed)
{
    return profile::with_speed("# mine\nTheme=dark\n", speed);
}

std::set<std::string> files_in(const fs::path &dir)
{
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

int wait_status(pid_t pid)
{
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return status;
}

class Durability : public ScratchHome {};

TEST_F(Durability, WriterKilledAtAnyMomentLeavesAWholeProfile)
{
    constexpr int rounds = 300;
    constexpr int longest_wait_us = 3000;
    write_profile(text_for(1));
    std::mt19937 random(20261211); // NOLINT(cert-msc32-c,cert-msc51-cpp): the same moments on every run
    std::uniform_int_distribution<int> wait_us(0, longest_wait_us);
    int temp_left = 0;

    for (int round = 0; round < rounds; ++round) {
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        pid_t pid = fork();
        ASSERT_NE(pid, -1);
        if (pid == 0) {
            close(started[0]);
            if (write(started[1], "!", 1) != 1)
                _exit(1);
            for (int speed = 1;; speed = speed % profile::max_speed + 1)
                profile::write_speed(speed);
        }
        close(started[1]);
        char c = 0;
        ASSERT_EQ(read(started[0], &c, 1), 1);
        close(started[0]);
        usleep(static_cast<useconds_t>(wait_us(random)));
        kill(pid, SIGKILL);
        wait_status(pid);

        std::string text = read_file(profile);
        int speed = 0;
        ASSERT_TRUE(profile::read_speed(speed)) << "round " << round;
        ASSERT_EQ(text, text_for(speed)) << "torn or damaged in round " << round;
        temp_left += fs::exists(profile_dir / "profile.tmp") ? 1 : 0;
    }
    RecordProperty("rounds_that_left_a_temporary_file", temp_left);

    // What a killed writer left is cleaned up by the next set that succeeds.
    ASSERT_TRUE(profile::write_speed(5));
    EXPECT_EQ(read_file(profile), text_for(5));
    EXPECT_EQ(files_in(profile_dir), std::set<std::string>{"profile"});
}

TEST_F(Durability, ConcurrentWritersLeaveOneWholeValue)
{
    constexpr int writers = 8;
    constexpr int writes_each = 40;
    constexpr int reads = 400;
    write_profile(text_for(20));

    std::vector<pid_t> children;
    for (int w = 1; w <= writers; ++w) {
        pid_t pid = fork();
        ASSERT_NE(pid, -1);
        if (pid == 0) {
            for (int i = 0; i < writes_each; ++i)
                if (!profile::write_speed(w))
                    _exit(1);
            _exit(0);
        }
        children.push_back(pid);
    }
    // A reader alongside them only ever sees a whole profile.
    pid_t reader = fork();
    ASSERT_NE(reader, -1);
    if (reader == 0) {
        for (int i = 0; i < reads; ++i) {
            std::string text = read_file(profile);
            int speed = 0;
            if (text != text_for(profile::parse_speed(text)) || !profile::read_speed(speed))
                _exit(1);
        }
        _exit(0);
    }
    children.push_back(reader);
    for (pid_t pid : children) {
        int status = wait_status(pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << pid << " status " << status;
    }

    int speed = 0;
    ASSERT_TRUE(profile::read_speed(speed));
    EXPECT_GE(speed, 1);
    EXPECT_LE(speed, writers);
    EXPECT_EQ(read_file(profile), text_for(speed));
    EXPECT_EQ(files_in(profile_dir), std::set<std::string>{"profile"});
}

} // namespace
