// Fuzzes the dialogue with any typed input: the speed handed to the set must be
// what a plain reading of the line gives, and nothing may crash or overflow.
//
// The program's own main runs in-process (renamed at compile time) against a
// recording stand-in of the platform, with standard input read from the data.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char chname[255];
int ptrspeed_main();

namespace {

constexpr int queried_speed = 12;
constexpr size_t line_limit = 254; // characters the line read takes at most
constexpr int64_t int_max = INT32_MAX;
constexpr int64_t int_min = INT32_MIN;

bool set_called = false;
intptr_t set_value = 0;

// What the line, read and converted by hand, must give.
int expected_speed(const uint8_t *data, size_t size)
{
    size_t n = 0;
    while (n < size && n < line_limit && data[n] != '\n')
        ++n;
    const uint8_t *p = data, *end = data + n; // the line without its line end; a NUL ends it early
    auto at = [&](const uint8_t *q) { return q < end ? *q : 0; };
    auto is_digit = [](unsigned c) { return c >= '0' && c <= '9'; };
    while (at(p) == ' ' || (at(p) >= '\t' && at(p) <= '\r'))
        ++p;
    bool negative = at(p) == '-';
    if (at(p) == '-' || at(p) == '+')
        ++p;
    if (!is_digit(at(p)))
        return queried_speed;
    int64_t magnitude = 0;
    for (; is_digit(at(p)); ++p)
        if (magnitude <= int_max + 1)
            magnitude = magnitude * 10 + (at(p) - '0');
    int64_t value = negative ? -magnitude : magnitude;
    return static_cast<int>(value > int_max ? int_max : value < int_min ? int_min : value);
}

} // namespace

extern "C" BOOL SystemParametersInfoA(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni)
{
    if (uiAction == SPI_GETMOUSESPEED && uiParam == 0 && fWinIni == 0) {
        *static_cast<int *>(pvParam) = queried_speed;
        return TRUE;
    }
    if (uiAction == SPI_SETMOUSESPEED && uiParam == 0 && fWinIni == (SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE)) {
        set_called = true;
        set_value = reinterpret_cast<intptr_t>(pvParam);
        return TRUE;
    }
    std::abort(); // a call the dialogue does not make
}

extern "C" int _getch()
{
    return 'x';
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Each run is a fresh process to the dialogue: an empty line buffer.
    std::memset(chname, 0, sizeof chname);
    FILE *input = size > 0 ? fmemopen(const_cast<uint8_t *>(data), size, "r") : fopen("/dev/null", "r");
    if (input == nullptr)
        std::abort();
    FILE *saved = stdin;
    stdin = input;
    set_called = false;
    if (ptrspeed_main() != 0)
        std::abort();
    stdin = saved;
    fclose(input);
    if (!set_called || set_value != expected_speed(data, size)) {
        std::fprintf(stderr, "set %jd, expected %d\n", static_cast<intmax_t>(set_value), expected_speed(data, size));
        std::abort();
    }
    return 0;
}
