// What amrnb_convert_file needs of the file reader beyond the public calls, and its bounded
// form for the tests (internal).
#ifndef AMRDEC_FILE_INTERNAL_H
#define AMRDEC_FILE_INTERNAL_H

#include <cstdint>
#include <cstdio>

#include "amrnb_file.h"

namespace amrnb::file_internal {

// Opens a file over `stream`, which it owns from then on (closed with the file, or at once
// when the open fails), and reads it as AMR-in-WAV whatever its first bytes are, as amrconv
// does: no "#!AMR\n" detection. Whatever the outcome, `header` receives the header bytes read
// (the format tag for AMRNB_ERROR_FORMAT_TAG) and `read_error` the error number of a failed
// read (0 when the input was merely short).
amrnb_status OpenWaveStream(std::FILE* stream, amrnb_file** file, amrnb_wave_header* header,
                            int* read_error);

// The stream a file reads (null for memory and callback input).
std::FILE* StreamOf(const amrnb_file* file);

// amrnb_convert_file with a bound on the WAV file's sample bytes (amrnb_convert_file passes the
// most a header can count, as amrconv's RunDecodeJob does; tests pass small ones).
amrnb_status ConvertFile(const char* source, const char* destination, int event_type,
                         uint32_t max_data_bytes, amrnb_convert_result* result);

}  // namespace amrnb::file_internal

#endif  // AMRDEC_FILE_INTERNAL_H
