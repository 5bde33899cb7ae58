// Bitstream unpacking: the bytes of one frame to the 57-entry parameter vector.
//
// Both layouts carry the same payload bits in the same order (TS 26.101 Annex B ordering);
// they differ in the header and in the bit order within a byte. The per-mode bit-order
// tables map payload bit k to a (parameter, weight) pair, so unpacking is one table-driven
// pass that adds the weight of every set bit. The caller's bytes are read, never modified.
#include <algorithm>
#include <iterator>

#include "stages.h"
#include "tables/tables.h"

namespace amrnb {

namespace {

// Payload bit k of a frame, as the storage layout and the IF2 layout place it.
struct StorageBits {
  const uint8_t* frame;
  // Payload starts at byte 1, most significant bit first.
  int32_t operator()(int32_t k) const { return (frame[1 + (k >> 3)] >> (7 - (k & 7))) & 1; }
};
struct If2Bits {
  const uint8_t* frame;
  // The four frame-type bits occupy the low half of byte 0; payload follows, least significant
  // bit first.
  int32_t operator()(int32_t k) const { return (frame[(k + 4) >> 3] >> ((k + 4) & 7)) & 1; }
};

// v, which the compiler may no longer know to be 0 or -1. Knowing it, clang turns the masking
// of a weight into a choice between the weight and 0, which its x86 back end then makes a branch
// on each payload bit: half of them mispredicted, and a clang build 13% slower on the hour job.
inline int32_t OpaqueMask(int32_t v) {
#if defined(__GNUC__) && !defined(__wasm__)
  __asm__("" : "+r"(v));
#endif
  return v;
}

// Adds the weight of every set bit. The addition is made for every bit, with the weight
// masked to 0 for a clear one: payload bits are random, and a branch on each would be
// mispredicted half of the time. Bits before `first` are left out.
template <typename Bits>
void Scatter(const Bits& bit, const BitOrderTable& order, int16_t* parm, int32_t first = 0) {
  for (int32_t k = first; k < order.count; ++k) {
    const BitPair& p = order.bits[k];
    parm[p.index] = static_cast<int16_t>(parm[p.index] + (p.weight & OpaqueMask(-bit(k))));
  }
}

// The storage layout's payload is whole bytes, most significant bit first: each byte is read
// once and its eight bits are spread by moving them to the sign bit in turn. The last bits
// of a payload that does not fill its last byte take the bit-by-bit pass.
void Scatter(const StorageBits& bit, const BitOrderTable& order, int16_t* parm) {
  const BitPair* p = order.bits;
  const uint8_t* payload = bit.frame + 1;
  const int32_t whole = order.count >> 3;
  for (int32_t b = 0; b < whole; ++b, p += 8) {
    const uint32_t byte = static_cast<uint32_t>(payload[b]) << 24;
    for (int j = 0; j < 8; ++j) {
      const int32_t set = OpaqueMask(static_cast<int32_t>(byte << j) >> 31);  // 0 or -1
      parm[p[j].index] = static_cast<int16_t>(parm[p[j].index] + (p[j].weight & set));
    }
  }
  Scatter<StorageBits>(bit, order, parm, whole * 8);
}

// Speech and SID payloads, shared by both layouts; returns the receive type for FT 0..7 and
// 9..15 and leaves SID's STI and mode bits to the caller.
template <typename Bits>
int32_t ScatterPayload(int32_t ft, const Bits& bit, int16_t* parm) {
  std::fill_n(parm, MAX_PRM, int16_t{0});
  if (ft <= FT_MR122 || ft == FT_SID) {
    Scatter(bit, bitorder_by_mode[ft], parm);
    return RX_SPEECH_GOOD;
  }
  return ft == FT_NO_DATA ? RX_NO_DATA : RX_SPEECH_BAD;
}

static_assert(*std::max_element(std::begin(prmno), std::end(prmno)) == MAX_PRM, "the parameter vector holds the largest mode's parameters");

constexpr int32_t kSidBits = 35;  // comfort-noise parameter bits before STI

}  // namespace

int32_t UnpackStorageFrame(const uint8_t* frame, int16_t* parm, int32_t* rx_type, int32_t* speech_mode,
                           int16_t* quality) {
  const int32_t ft = (frame[0] >> 3) & 15;
  *quality = static_cast<int16_t>((frame[0] >> 2) & 1);
  const StorageBits bit{frame};
  *rx_type = ScatterPayload(ft, bit, parm);
  if (ft == FT_SID) {
    *rx_type = bit(kSidBits) ? RX_SID_UPDATE : RX_SID_FIRST;
    // Mode indication, least significant bit first.
    *speech_mode = bit(kSidBits + 1) | (bit(kSidBits + 2) << 1) | (bit(kSidBits + 3) << 2);
  }
  return ft;
}

int32_t UnpackIf2Frame(const uint8_t* frame, int16_t* parm, int32_t* rx_type, int32_t* speech_mode) {
  const int32_t ft = frame[0] & 15;
  const If2Bits bit{frame};
  *rx_type = ScatterPayload(ft, bit, parm);
  if (ft == FT_SID) {
    // STI is the last bit of byte 4; byte 5 carries the mode indication. Only its low three
    // bits are kept: a mode outside 0..7 would index past the per-mode tables later on.
    *rx_type = bit(kSidBits) ? RX_SID_UPDATE : RX_SID_FIRST;
    *speech_mode = frame[5] & 7;
  }
  return ft;
}

int32_t FrameBytes(int32_t frame_type, int32_t input_layout) {
  if (frame_type < 0 || frame_type > 15) return 0;
  if (frame_type > FT_SID) return 1;
  const int32_t payload_bits = bitorder_by_mode[frame_type].count;
  if (input_layout == 0) {
    // Header byte, then the payload bits (a SID adds the STI bit and 3 mode bits), padded.
    const int32_t bits = frame_type == FT_SID ? payload_bits + 4 : payload_bits;
    return 1 + (bits + 7) / 8;
  }
  // Four frame-type bits, then the payload (a SID adds the STI bit), padded; a SID's mode
  // indication takes one more whole byte.
  const int32_t bits = 4 + payload_bits + (frame_type == FT_SID ? 1 : 0);
  return (bits + 7) / 8 + (frame_type == FT_SID ? 1 : 0);
}

}  // namespace amrnb
