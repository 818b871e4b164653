// Announces a settings change to running programs.
#ifndef PTRSPEED_POSIX_BROADCAST_H
#define PTRSPEED_POSIX_BROADCAST_H

// Tells running programs that the setting of action now holds value.
void broadcast_setting_change(unsigned action, int value);

#endif
