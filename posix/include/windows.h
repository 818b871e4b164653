// The part of the Windows settings service that ptrspeed uses, provided on POSIX
// by the stand-in under posix/.
#ifndef PTRSPEED_POSIX_WINDOWS_H
#define PTRSPEED_POSIX_WINDOWS_H

using BOOL = int;
using UINT = unsigned int;
using PVOID = void *;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

// Actions.
constexpr UINT SPI_GETMOUSESPEED = 112; // pvParam: address of an int that receives the speed
constexpr UINT SPI_SETMOUSESPEED = 113; // pvParam: the new speed itself, 1..20

// Update flags of a set.
constexpr UINT SPIF_UPDATEINIFILE = 1;    // store the value in the user profile
constexpr UINT SPIF_SENDWININICHANGE = 2; // announce the change to running programs

extern "C" BOOL SystemParametersInfoA(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni);

#endif
