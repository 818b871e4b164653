// Text mode of the standard streams, as a Windows console program has them:
// each line end written goes out as a carriage return and a line feed, and a
// carriage return followed by a line feed reads as one line end.
#ifndef PTRSPEED_POSIX_TEXTMODE_H
#define PTRSPEED_POSIX_TEXTMODE_H

#include <cstdio>

// A stream in text mode over fd, for reading ("r") or writing ("w"); the fd
// stays open when the stream is closed. Null on failure.
FILE *open_text_stream(int fd, const char *mode);

#endif
