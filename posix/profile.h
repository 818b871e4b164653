// The user profile: where the mouse speed is kept between runs and logons.
//
// A text file of key=value lines, $XDG_CONFIG_HOME/ptrspeed/profile (or
// ~/.config/ptrspeed/profile), holding the speed under MouseSpeed. Lines it does
// not know are kept when it is rewritten.
#ifndef PTRSPEED_POSIX_PROFILE_H
#define PTRSPEED_POSIX_PROFILE_H

#include <string>
#include <string_view>

namespace profile {

// The pointer speed scale.
constexpr int min_speed = 1;
constexpr int max_speed = 20;
constexpr int default_speed = 10;

// The folder that holds the profile; empty when no home folder is known.
std::string directory();

// The stored speed. A missing, empty or unparsable profile, or a stored value
// off the scale, reads as the default. False when the profile exists but
// cannot be read.
bool read_speed(int &speed);

// Stores speed, replacing the profile as a whole: a reader sees the old profile
// or the new one, never a mix, also after a crash. False when it could not be
// stored; the old profile is then left as it was.
bool write_speed(int speed);

// The speed that the text of a profile holds, or the default.
int parse_speed(std::string_view text);

// The text of a profile with its speed set to speed, other lines unchanged.
std::string with_speed(std::string_view text, int speed);

} // namespace profile

#endif
