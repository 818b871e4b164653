// Fuzzes the profile's reader and writer with any file contents: the speed read
// is always on the scale, and a rewrite stores the new speed and keeps every
// other line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "profile.h"

namespace {

constexpr std::string_view key = "MouseSpeed=";

// The lines of text that a rewrite must keep, in order, each with its line end.
std::string other_lines(std::string_view text)
{
    std::string out;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.substr(0, key.size()) != key)
            out.append(line).push_back('\n');
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view text(reinterpret_cast<const char *>(data), size);
    int speed = profile::parse_speed(text);
    if (speed < profile::min_speed || speed > profile::max_speed)
        std::abort();

    int next = speed % profile::max_speed + 1; // some other speed on the scale
    std::string rewritten = profile::with_speed(text, next);
    if (profile::parse_speed(rewritten) != next || other_lines(rewritten) != other_lines(text) ||
        profile::with_speed(rewritten, next) != rewritten)
        std::abort();
    return 0;
}
