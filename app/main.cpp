// amrconv SOURCE DESTINATION EVENT_TYPE
//   event type 1: decode an AMR-in-WAV file into a 16-bit 8000 Hz PCM WAV file
//   event type 2: copy its AMR frames into an AMR storage file ("#!AMR\n" + frames)
#include <cstdio>
#include <cstring>

#include "app/jobs.h"
#include "container/platform.h"

namespace {

constexpr const char* kUsageLines[] = {
    // The usage text, "Invalied" included, is kept word for word: callers match it.
    "\n Invalied Arguments..",
    "\n ---------------------------------------",
    "\n Run the Exe with below 2 arguments",
    "\n 1: Source File Path",
    "\n 2: Destination File Path",
    "\n 3: Event Type. 1 For AMR to Wave, 2 For Adding AMR Header.",
    "\n ---------------------------------------",
};

}  // namespace

int main(int argc, char* argv[]) {
  // Started with standard input or output closed (by a service manager, say), the source or
  // the destination would get its descriptor, and the progress text would land in the file.
  OpenMissingStandardDescriptors();
  UseUtf8Arguments(&argc, &argv);
  char source_path[kPathBufferBytes];
  char destination_path[kPathBufferBytes];
  std::memset(source_path, 0, sizeof source_path);
  std::memset(destination_path, 0, sizeof destination_path);

  if (argc < 4) {
    for (const char* line : kUsageLines) std::printf("%s", line);
    std::fflush(stdout);  // show the text before waiting for the key
    std::getchar();
    return 1;
  }

  // Longer paths are refused rather than cut short, so no other file is ever touched.
  for (int i = 1; i <= 2; ++i) {
    if (PathLength(argv[i]) > kMaxPathChars || std::strlen(argv[i]) >= kPathBufferBytes) {
      std::printf("\nPath argument %d is longer than %zu %s.", i, kMaxPathChars, kPathLengthUnit);
      return 1;
    }
  }
  std::snprintf(source_path, sizeof source_path, "%s", argv[1]);
  std::snprintf(destination_path, sizeof destination_path, "%s", argv[2]);

  // Like "%d": leading blanks and a sign are accepted, trailing characters ignored, and
  // text without a leading number leaves the default.
  int event_type = -1;
  std::sscanf(argv[3], "%d", &event_type);

  if (event_type != 1 && event_type != 2) {
    std::printf("\nInvalid Argument. setting to default");
    return 1;
  }
  // Only a job stops on an interrupt at a frame boundary; until it starts (at the usage
  // prompt, say) an interrupt ends the program at once.
  InstallInterruptHandlers();
  return event_type == 1 ? RunDecodeJob(source_path, destination_path)
                         : RunHeaderJob(source_path, destination_path);
}
