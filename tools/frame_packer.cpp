#include "frame_packer.h"

#include <algorithm>

#include "amrdec/amrnb_decoder.h"
#include "amrdec/tables/tables.h"

namespace amrtools {

namespace {

constexpr int32_t kSidBits = 35;

bool HasPayload(int32_t ft) { return ft >= 0 && ft <= 8; }

}  // namespace

std::size_t StorageFrameSize(int32_t frame_type) {
  return static_cast<std::size_t>(amrnb_storage_frame_bytes(static_cast<unsigned>(frame_type & 15) << 3));
}
std::size_t If2FrameSize(int32_t frame_type) {
  return static_cast<std::size_t>(amrnb::FrameBytes(frame_type & 15, 1));
}

int32_t ParamCount(int32_t frame_type) { return HasPayload(frame_type) ? amrnb::prmno[frame_type] : 0; }

int32_t ParamBits(int32_t frame_type, int32_t i) {
  if (!HasPayload(frame_type) || i < 0 || i >= ParamCount(frame_type)) return 0;
  return amrnb::bitno_by_mode[frame_type].values[i];
}

std::vector<uint8_t> PackFrame(Layout layout, const FrameInfo& info, const int16_t* parm) {
  const int32_t ft = info.frame_type & 15;
  const bool storage = layout == Layout::kStorage;
  std::vector<uint8_t> out(storage ? StorageFrameSize(ft) : If2FrameSize(ft), 0);

  // Sets payload bit k in the layout's position.
  auto put = [&](int32_t k, int32_t bit) {
    if (!bit) return;
    if (storage) {
      out[1 + (k >> 3)] |= static_cast<uint8_t>(0x80 >> (k & 7));
    } else {
      out[(k + 4) >> 3] |= static_cast<uint8_t>(1 << ((k + 4) & 7));
    }
  };

  out[0] = storage ? static_cast<uint8_t>((ft << 3) | ((info.quality & 1) << 2)) : static_cast<uint8_t>(ft);
  if (!HasPayload(ft)) return out;

  const amrnb::BitOrderTable& order = amrnb::bitorder_by_mode[ft];
  for (int32_t k = 0; k < order.count; ++k) {
    put(k, (parm[order.bits[k].index] & order.bits[k].weight) != 0);
  }
  if (ft == 8) {
    put(kSidBits, info.sti & 1);
    if (storage) {
      for (int32_t b = 0; b < 3; ++b) put(kSidBits + 1 + b, (info.sid_mode >> b) & 1);
    } else {
      out[5] = static_cast<uint8_t>(info.sid_mode);
    }
  }
  return out;
}

}  // namespace amrtools
