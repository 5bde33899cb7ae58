#include <cstdio>

#include "app/jobs.h"
#include "container/platform.h"

void PrintEndOfFileTimes(uint32_t start_ms) {
  std::printf("\nReached End of File.");
  const uint32_t stop_ms = GetTickCount();
  std::printf("\nStartReading..Time(%u)\n", start_ms);
  std::printf("\nStop Reading..Time(%u)\n", stop_ms);
  // Unsigned subtraction gives the elapsed time across a wrap of the tick counter too.
  std::printf("\nTimeDiffernce(%u)", stop_ms - start_ms);
}
