// Helpers for the tests: a scratch home folder, files, and runs of the program.
#ifndef PTRSPEED_TESTS_SUPPORT_H
#define PTRSPEED_TESTS_SUPPORT_H

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace fs = std::filesystem;

// Gives each test a fresh home folder of its own: HOME, XDG_CONFIG_HOME and
// XDG_RUNTIME_DIR point into a temporary folder and DBUS_SESSION_BUS_ADDRESS is
// unset, so that no test touches a real profile or a real session bus.
class ScratchHome : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    fs::path root;        // the temporary folder; removed afterwards
    fs::path config_home; // XDG_CONFIG_HOME
    fs::path profile_dir; // the folder that holds the profile
    fs::path profile;     // the profile itself

    // Writes the profile as text, creating its folder.
    void write_profile(const std::string &text);
};

std::string read_file(const fs::path &path);

// The speed the settings service reports, or nullopt when the query fails.
std::optional<int> stored_speed();

struct Outcome {
    std::string out; // everything the program wrote to standard output
    int status = -1; // as waitpid reports it
};

// What a standard stream of the program is connected to.
enum class Stream { pipe, closed, full_device };

struct Launch {
    std::string input; // written to standard input through a pipe
    Stream in = Stream::pipe;
    Stream out = Stream::pipe; // read through a pipe into Outcome::out
    std::string exe = PTRSPEED_EXE;
    std::string cwd; // empty: the test's own
};

// Runs the program in a session of its own, with no terminal.
Outcome run_program(const Launch &run);

inline Outcome run_program(const std::string &input, const std::string &exe = PTRSPEED_EXE)
{
    return run_program(Launch{input, Stream::pipe, Stream::pipe, exe, {}});
}

// Runs fn in a child process with the rights of an unprivileged user (the
// "nobody" user when the tests run as root) and returns whether it returned
// true. Root is not stopped by permission bits.
bool as_unprivileged(const std::function<bool()> &fn);

// Makes path and what lies under it the unprivileged user's, when running as root.
void give_to_unprivileged(const fs::path &path);

#endif
