// The two operating-system services the converter needs, in one place: the error number
// of the last failed system call and a millisecond tick counter for the timing lines.
#ifndef CONTAINER_PLATFORM_H
#define CONTAINER_PLATFORM_H

#include <cerrno>
#include <cstdint>
#include <ctime>

// Error number of the last failed runtime or system call.
inline int GetLastError() { return errno; }

// Clears the error number before a call whose failure is reported, so that the number
// printed belongs to that call and not to an earlier, unrelated one.
inline void ClearLastError() { errno = 0; }

// Restores an error number saved earlier, for a report that follows a cleanup call.
inline void SetLastError(int error) { errno = error; }

// Milliseconds of a monotonic clock, truncated to 32 bits. Callers subtract two readings
// as unsigned 32-bit values, which stays correct across a wrap of the counter.
inline uint32_t GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                      static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

#endif  // CONTAINER_PLATFORM_H
