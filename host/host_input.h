// Input files of the file RTK runs: only regular files are read. A directory
// reads as an empty file and a FIFO or device blocks or never ends, so such
// paths are refused before they are opened.
#pragma once

#include <cstdio>

// Checks path (a NUL-terminated file name, the caller's) before it is opened:
// returns 1 when it names a regular file (symbolic links followed) or cannot
// be examined (stat fails: the open that follows fails and is reported as a
// missing file); 0 when it names a directory, FIFO, device or socket, after
// "talonhost: PATH: is a directory" or "talonhost: PATH: is not a regular
// file" on stderr.
int HOST_check_input(const char* path);

// Opens path with fopen(path, mode) when HOST_check_input accepts it. Returns
// the stream (the caller closes it), or null: path refused (message already
// on stderr) or the open failed (errno kept for HOST_report_open_error).
std::FILE* HOST_open_input(const char* path, const char* mode);

// After HOST_open_input returned null: "talonhost: PATH: <reason>" on stderr
// with the reason of the failed open (strerror of its errno); nothing when
// the path was refused (HOST_check_input has said why).
void HOST_report_open_error(const char* path);
