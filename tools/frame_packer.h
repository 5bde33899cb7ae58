// Packing of a decoder parameter vector into the bytes of one AMR-NB frame: the inverse of
// the decoder's unpackers, for tests and stream-building tools.
#ifndef TOOLS_FRAME_PACKER_H
#define TOOLS_FRAME_PACKER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace amrtools {

enum class Layout { kStorage, kIf2 };

// What goes into one frame besides its parameters.
struct FrameInfo {
  int32_t frame_type = 7;  // 0..7 speech modes, 8 SID, 9..14 invalid, 15 no data
  int32_t quality = 1;     // storage layout header bit 2
  int32_t sti = 0;         // SID only: 0 SID_FIRST, 1 SID_UPDATE
  int32_t sid_mode = 0;    // SID only: the speech mode indication (0..7)
};

// Bytes of a frame of the given type, header included. Storage sizes are those of the
// AMR-in-WAV frame reader (type 9 is 32 bytes; types 10..14 are a header byte alone).
std::size_t StorageFrameSize(int32_t frame_type);
std::size_t If2FrameSize(int32_t frame_type);

// Number of parameters and bit size of parameter i for a frame type 0..8 (0 otherwise).
int32_t ParamCount(int32_t frame_type);
int32_t ParamBits(int32_t frame_type, int32_t i);

// Packs parm (at least ParamCount entries; only the bits that the mode carries are used).
// Bits that carry nothing are 0.
std::vector<uint8_t> PackFrame(Layout layout, const FrameInfo& info, const int16_t* parm);

}  // namespace amrtools

#endif  // TOOLS_FRAME_PACKER_H
