#include "broadcast.h"

// No listeners are reached yet: this is where the change will be announced.
void broadcast_setting_change(unsigned /*action*/, int /*value*/) {}
