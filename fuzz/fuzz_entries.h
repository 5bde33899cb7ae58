// Entry functions shared by the libFuzzer targets and the regression test that replays the
// committed corpus under the normal test suite. Each takes one arbitrary input, runs it
// through the code under test and checks what must hold for every input; it returns an
// empty string when everything held, otherwise a description of the first violation.
// Memory faults are left to the sanitizers.
#ifndef FUZZ_FUZZ_ENTRIES_H
#define FUZZ_FUZZ_ENTRIES_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzentry {

// Byte 0 selects the input layout (even: storage, odd: IF2 with that byte as the selector);
// the rest is a sequence of frames, each as long as its frame type needs (the last one
// zero-padded). Every frame is decoded from a buffer of exactly its size, twice, with
// scratch blocks filled with different garbage: the outputs must agree.
std::string DecodeFrames(const uint8_t* data, size_t size);

// Byte 0 selects the unpacker as above; the rest is one frame. Checks the frame type,
// receive type, quality bit and parameter ranges, and that packing the parameters again
// and unpacking the result gives the same frame.
std::string Unpack(const uint8_t* data, size_t size);

// The whole input is an AMR-in-WAV source file. Runs the header job and the decode job on
// it in-process (progress output discarded) and checks status, destination bytes and that
// no file descriptor is left open.
std::string Jobs(const uint8_t* data, size_t size);

// Byte 0 seeds the block sizes, byte 1 the callback's chunk sizes; the rest is a file for the
// library's reader (amrnb_file.h). It is opened from memory and through a read callback that
// delivers it in random chunks, decoded in random block sizes, and read frame by frame: the
// statuses and samples must agree, each sample block must be full but at the end, and the
// frames, the header and the dropped tail must add up to the input.
std::string FileReader(const uint8_t* data, size_t size);

}  // namespace fuzzentry

#endif  // FUZZ_FUZZ_ENTRIES_H
