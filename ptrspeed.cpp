// ptrspeed: shows the pointer (mouse) speed, asks for a new one and applies it
// system-wide, stored in the user profile and announced to running programs.

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <conio.h>
#include <windows.h>

// The line typed at the prompt: the read stores up to 254 characters and a
// terminating zero.
constexpr int line_limit = 255;
char chname[line_limit];

int main()
{
    int speed = 0; // what a failed query leaves: 0 is off the scale, so it is never stored
    char *end = nullptr;
    long typed = 0;

    puts("Hello!");
    SystemParametersInfoA(SPI_GETMOUSESPEED, 0, &speed, 0);
    printf("Speed is: %d", speed);
    printf("\nEnter New speed: ");
    fflush(stdout);

    fgets(chname, line_limit, stdin);

    // A decimal number at the start of the line, after any white space, replaces
    // the speed; without one the queried speed stays. A number too large for an
    // int is held at INT_MIN or INT_MAX, off the scale, rather than wrapped into it.
    typed = strtol(chname, &end, 10);
    if (end != chname)
        speed = typed < INT_MIN ? INT_MIN : typed > INT_MAX ? INT_MAX : static_cast<int>(typed);

    SystemParametersInfoA(SPI_SETMOUSESPEED, 0, reinterpret_cast<void *>(static_cast<intptr_t>(speed)),
                          SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE);

    printf("\nHit Enter to exit.");
    fflush(stdout);
    _getch();
    return 0;
}
