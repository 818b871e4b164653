// The change broadcast: a signal on the session bus for each set that took.
#include "support.h"

#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "broadcast.h"

namespace {

using namespace std::chrono_literals;
using Signal = std::pair<unsigned, int>; // action, value

constexpr unsigned set_mouse_speed = 113;
constexpr auto patience = 10s;

// A private session bus, and a listener on it that collects the signals.
class SessionBus : public ScratchHome {
protected:
    void SetUp() override
    {
        ScratchHome::SetUp();
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        std::string listen = "--address=unix:path=" + (root / "bus").string();
        daemon_ = fork();
        ASSERT_NE(daemon_, -1);
        if (daemon_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address",
                   listen.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string address;
        char c = 0;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            address.push_back(c);
        close(out[0]);
        ASSERT_FALSE(address.empty()) << "dbus-daemon did not start";
        ASSERT_EQ(setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1), 0);

        ASSERT_GE(sd_bus_new(&listener_), 0);
        ASSERT_GE(sd_bus_set_address(listener_, address.c_str()), 0);
        ASSERT_GE(sd_bus_set_bus_client(listener_, 1), 0);
        ASSERT_GE(sd_bus_start(listener_), 0);
        std::string match = std::string("type='signal',interface='") + broadcast::interface + "'";
        ASSERT_GE(sd_bus_add_match(listener_, nullptr, match.c_str(), on_signal, &seen), 0);
    }

    void TearDown() override
    {
        sd_bus_flush_close_unref(listener_);
        if (daemon_ > 0) {
            kill(daemon_, SIGTERM);
            waitpid(daemon_, nullptr, 0);
        }
        ScratchHome::TearDown();
    }

    // Waits until count signals have been seen in all.
    void collect(size_t count)
    {
        auto deadline = std::chrono::steady_clock::now() + patience;
        while (seen.size() < count && std::chrono::steady_clock::now() < deadline) {
            int r = sd_bus_process(listener_, nullptr);
            ASSERT_GE(r, 0);
            if (r == 0) {
                ASSERT_GE(sd_bus_wait(listener_, 100000), 0);
            }
        }
    }

    static int on_signal(sd_bus_message *m, void *seen, sd_bus_error * /*error*/)
    {
        unsigned action = 0;
        int value = 0;
        EXPECT_STREQ(sd_bus_message_get_path(m), broadcast::object_path);
        EXPECT_STREQ(sd_bus_message_get_member(m), broadcast::member);
        EXPECT_GE(sd_bus_message_read(m, broadcast::signature, &action, &value), 0);
        static_cast<std::vector<Signal> *>(seen)->emplace_back(action, value);
        return 0;
    }

    std::vector<Signal> seen;

private:
    pid_t daemon_ = -1;
    sd_bus *listener_ = nullptr;
};

TEST_F(SessionBus, OneSignalForEachSetThatTook)
{
    write_profile("MouseSpeed=12\n");
    for (const char *input : {"15\n", "99\n", "abc\n", "-3\n", "7\n"})
        EXPECT_TRUE(WIFEXITED(run_program(input).status));
    // 99 and -3 are refused; abc writes back the 15 it was shown. The last run's
    // signal comes after anything the earlier runs sent.
    collect(3);
    EXPECT_EQ(seen, (std::vector<Signal>{{set_mouse_speed, 15}, {set_mouse_speed, 15}, {set_mouse_speed, 7}}));
}

TEST_F(SessionBus, NoSignalWhenTheSetFails)
{
    fs::create_directories(profile); // unreadable, so also not rewritable
    run_program("abc\n");            // the failed query's 0 is refused
    run_program("15\n");             // the profile cannot be rewritten
    fs::remove(profile);
    run_program("5\n");
    collect(1);
    EXPECT_EQ(seen, (std::vector<Signal>{{set_mouse_speed, 5}}));
}

struct NoBusCase {
    const char *name;
    const char *address; // nullptr: unset
};

std::ostream &operator<<(std::ostream &os, const NoBusCase &c)
{
    return os << c.name;
}

class NoBus : public ScratchHome, public ::testing::WithParamInterface<NoBusCase> {};

TEST_P(NoBus, SetStillTakes)
{
    if (GetParam().address != nullptr) {
        ASSERT_EQ(setenv("DBUS_SESSION_BUS_ADDRESS", GetParam().address, 1), 0);
    }
    Outcome r = run_program("15\n");
    EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0);
    EXPECT_EQ(r.out, "Hello!\r\nSpeed is: 10\r\nEnter New speed: \r\nHit Enter to exit.");
    EXPECT_EQ(stored_speed(), 15);
}

INSTANTIATE_TEST_SUITE_P(Addresses, NoBus,
                         ::testing::Values(NoBusCase{"none", nullptr},
                                           NoBusCase{"missing_socket", "unix:path=/nonexistent/bus"},
                                           NoBusCase{"not_an_address", "no such bus"}),
                         [](const auto &info) { return std::string(info.param.name); });

class HungBus : public ScratchHome {};

TEST_F(HungBus, HoldsTheDialogueUpOnlyBriefly)
{
    // A socket that takes connections and never says a word.
    int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_NE(s, -1);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::string path = (root / "hung").string();
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    path.copy(addr.sun_path, path.size());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(s, 8), 0);
    ASSERT_EQ(setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1), 0);

    auto start = std::chrono::steady_clock::now();
    Outcome r = run_program("15\n");
    auto took = std::chrono::steady_clock::now() - start;
    close(s);
    EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0);
    EXPECT_EQ(stored_speed(), 15);
    // The broadcast gives up after about a second; a client left to its own
    // timeouts would wait 25 seconds or more.
    EXPECT_LT(took, 5s);
}

} // namespace
