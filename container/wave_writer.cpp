#include "container/wave_writer.h"

#include "amrdec/pcm_wave_header.h"
#include "container/platform.h"

int32_t WriteWaveHeader(uint32_t data_bytes, FILE* stream) {
  uint8_t header[kWaveHeaderSize];
  amrnb::BuildPcmWaveHeader(data_bytes, header);  // the library's, which amrnb_convert_file writes too
  std::rewind(stream);
  ClearLastError();
  const size_t written = std::fwrite(header, sizeof header, 1, stream);
  if (written == 0) {
    std::printf("\n Failed to write ret(%d) Error(%d)", static_cast<int>(written), GetLastError());
    return kWaveHeaderWriteFailed;
  }
  return 0;
}
