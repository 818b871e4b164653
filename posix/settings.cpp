// The settings service: the mouse speed, kept in the user profile.
#include <windows.h>

#include <cstdint>

#include "broadcast.h"
#include "profile.h"

extern "C" BOOL SystemParametersInfoA(UINT uiAction, UINT /*uiParam*/, PVOID pvParam, UINT fWinIni)
{
    switch (uiAction) {
    case SPI_GETMOUSESPEED: {
        int speed = 0;
        if (pvParam == nullptr || !profile::read_speed(speed))
            return FALSE;
        *static_cast<int *>(pvParam) = speed;
        return TRUE;
    }
    case SPI_SETMOUSESPEED: {
        // The speed travels in the pointer itself.
        intptr_t speed = reinterpret_cast<intptr_t>(pvParam);
        if (speed < profile::min_speed || speed > profile::max_speed)
            return FALSE;
        // There is no value for this logon only: a set is stored or refused.
        if ((fWinIni & SPIF_UPDATEINIFILE) == 0 || !profile::write_speed(static_cast<int>(speed)))
            return FALSE;
        if ((fWinIni & SPIF_SENDWININICHANGE) != 0)
            broadcast::setting_changed(uiAction, static_cast<int>(speed));
        return TRUE;
    }
    default:
        return FALSE;
    }
}
