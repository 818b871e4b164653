// The console key read that ptrspeed uses, provided on POSIX by posix/getch.cpp.
#ifndef PTRSPEED_POSIX_CONIO_H
#define PTRSPEED_POSIX_CONIO_H

// Waits for one keystroke at the terminal, without echo, and returns its first
// byte; returns -1 at once when the process has no terminal.
extern "C" int _getch();

#endif
