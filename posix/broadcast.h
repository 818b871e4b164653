// Announces a settings change to running programs.
//
// The announcement is a signal on the user's D-Bus session bus:
//   path      /org/ptrspeed/Settings
//   interface org.ptrspeed.Settings1
//   member    SettingChanged
//   arguments u action (113 for the mouse speed), i value
// Without a session bus nothing is sent; a bus that does not answer holds the
// caller up for at most about a second.
#ifndef PTRSPEED_POSIX_BROADCAST_H
#define PTRSPEED_POSIX_BROADCAST_H

namespace broadcast {

constexpr const char *object_path = "/org/ptrspeed/Settings";
constexpr const char *interface = "org.ptrspeed.Settings1";
constexpr const char *member = "SettingChanged";
constexpr const char *signature = "ui";

// Tells running programs that the setting of action now holds value.
void setting_changed(unsigned action, int value);

} // namespace broadcast

#endif
