// The few operating-system services the jobs need beyond standard C and C++: 64-bit seeks
// and truncation of the destination, the standard descriptors and interrupt
// signals. POSIX systems get them all; elsewhere (Windows) each falls back to what the C
// runtime offers, or does nothing.
#ifndef APP_SYSTEM_IO_H
#define APP_SYSTEM_IO_H

#include <cstdint>
#include <cstdio>

// Puts the stream at byte `offset`; false (with the error number set) if it cannot seek,
// as for a pipe, a socket or a terminal.
bool SeekStream(FILE* stream, uint64_t offset);

// Cuts the file behind the stream to `size` bytes.
bool TruncateStream(FILE* stream, uint64_t size);

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, so that no file opened
// later can take the place of standard input, output or error.
void OpenMissingStandardDescriptors();

// SIGINT, SIGTERM and SIGHUP ask the jobs to stop at the next frame boundary; a second one
// ends the program at once. A file-size limit makes writes fail instead of ending the program.
void InstallInterruptHandlers();

// The signal number of the first interrupt received, or 0.
int PendingInterrupt();

#endif  // APP_SYSTEM_IO_H
