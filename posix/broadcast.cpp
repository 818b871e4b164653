#include "broadcast.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <systemd/sd-bus.h>

namespace {

// The bus library is loaded only when there is a bus to talk to, so that a run
// without one pays nothing for it.
constexpr const char *bus_library = "libsystemd.so.0";
constexpr uint64_t patience_usec = 1000000; // the longest a broadcast may hold the caller up
constexpr uint64_t usec_per_sec = 1000000;
constexpr uint64_t nsec_per_usec = 1000;

struct BusLibrary {
    decltype(&sd_bus_open_user) open_user;
    decltype(&sd_bus_emit_signal) emit_signal;
    decltype(&sd_bus_call_method_async) call_method_async;
    decltype(&sd_bus_process) process;
    decltype(&sd_bus_get_fd) get_fd;
    decltype(&sd_bus_get_events) get_events;
    decltype(&sd_bus_get_timeout) get_timeout;
    decltype(&sd_bus_close_unref) close_unref;
};

template <typename F> bool resolve(void *lib, const char *name, F &f)
{
    f = reinterpret_cast<F>(dlsym(lib, name));
    return f != nullptr;
}

bool load(BusLibrary &bus)
{
    void *lib = dlopen(bus_library, RTLD_LAZY | RTLD_LOCAL); // lazy: most of the library is never called
    if (lib == nullptr)
        return false;
    // The library stays loaded for the rest of the process.
    return resolve(lib, "sd_bus_open_user", bus.open_user) && resolve(lib, "sd_bus_emit_signal", bus.emit_signal) &&
           resolve(lib, "sd_bus_call_method_async", bus.call_method_async) &&
           resolve(lib, "sd_bus_process", bus.process) && resolve(lib, "sd_bus_get_fd", bus.get_fd) &&
           resolve(lib, "sd_bus_get_events", bus.get_events) && resolve(lib, "sd_bus_get_timeout", bus.get_timeout) &&
           resolve(lib, "sd_bus_close_unref", bus.close_unref);
}

// Whether a session bus can be reached the way the bus library looks for one.
bool session_bus_present()
{
    const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0')
        return true;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st = {};
    return runtime != nullptr && runtime[0] == '/' && stat((std::string(runtime) + "/bus").c_str(), &st) == 0 &&
           S_ISSOCK(st.st_mode);
}

uint64_t now_usec()
{
    timespec ts = {};
    clock_gettime(CLOCK_MONOTONIC, &ts); // cannot fail for CLOCK_MONOTONIC
    return static_cast<uint64_t>(ts.tv_sec) * usec_per_sec + static_cast<uint64_t>(ts.tv_nsec) / nsec_per_usec;
}

int on_answer(sd_bus_message * /*reply*/, void *answered, sd_bus_error * /*error*/)
{
    *static_cast<bool *>(answered) = true;
    return 0;
}

// Runs the connection until the bus has answered or the deadline has passed.
void wait_for_answer(const BusLibrary &lib, sd_bus *bus, const bool &answered, uint64_t deadline)
{
    while (!answered) {
        int r = lib.process(bus, nullptr);
        if (r < 0)
            return;
        if (r > 0)
            continue;
        uint64_t now = now_usec();
        if (now >= deadline)
            return;
        uint64_t until = UINT64_MAX;
        if (lib.get_timeout(bus, &until) < 0 || until > deadline)
            until = deadline;
        int events = lib.get_events(bus);
        int fd = lib.get_fd(bus);
        if (events < 0 || fd < 0)
            return;
        pollfd p = {fd, static_cast<short>(events), 0};
        int wait_ms = until > now ? static_cast<int>((until - now + 999) / 1000) : 0;
        if (poll(&p, 1, wait_ms) == -1 && errno != EINTR)
            return;
    }
}

} // namespace

namespace broadcast {

void setting_changed(unsigned action, int value)
{
    BusLibrary lib = {};
    if (!session_bus_present() || !load(lib))
        return;
    uint64_t deadline = now_usec() + patience_usec;
    sd_bus *bus = nullptr;
    if (lib.open_user(&bus) < 0)
        return;
    // The bus answers a ping only after it has taken what was sent before it,
    // so its answer means the signal is on its way to every listener.
    bool answered = false;
    if (lib.emit_signal(bus, object_path, interface, member, signature, static_cast<uint32_t>(action),
                        static_cast<int32_t>(value)) >= 0 &&
        lib.call_method_async(bus, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus.Peer", "Ping", on_answer, &answered, "") >= 0)
        wait_for_answer(lib, bus, answered, deadline);
    lib.close_unref(bus);
}

} // namespace broadcast
