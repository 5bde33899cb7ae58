#include "fuzz/fuzz_entries.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "amrdec/amrnb_decoder.h"
#include "amrdec/amrnb_file.h"
#include "amrdec/decoder_state.h"
#include "amrdec/stages.h"
#include "app/jobs.h"
#include "frame_packer.h"

namespace fuzzentry {
namespace {

using Bytes = std::vector<uint8_t>;

// Bytes the AMR-in-WAV reader takes per frame type (types 10..14 are one byte).
size_t ReaderSize(int32_t frame_type) {
  return static_cast<size_t>(amrnb_storage_frame_bytes(static_cast<unsigned>(frame_type) << 3));
}


constexpr size_t kSourceHeaderSize = 62;
constexpr size_t kPcmFrameBytes = amrnb::kFrameSamples * 2;

std::string Fault(const std::string& what, size_t frame) {
  return what + " (frame " + std::to_string(frame) + ")";
}

// Heap block of exactly `size` bytes, so that the address sanitizer sees any access past it.
struct Block {
  explicit Block(size_t size) : bytes(static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size))) {}
  ~Block() { std::free(bytes); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  uint8_t* bytes;
};

// Copies the next frame of `data` from `*pos` into an exact-size block (zero-padded when
// the input ends early) and advances `*pos` past it.
std::unique_ptr<Block> NextFrame(const uint8_t* data, size_t size, size_t* pos, bool if2) {
  const uint8_t first = data[*pos];
  const size_t need = static_cast<size_t>(
      if2 ? amrnb::FrameBytes(first & 15, 1) : amrnb::FrameBytes((first >> 3) & 15, 0));
  auto frame = std::make_unique<Block>(need);
  const size_t available = std::min(need, size - *pos);
  std::memset(frame->bytes, 0, need);
  std::memcpy(frame->bytes, data + *pos, available);
  *pos += available;
  return frame;
}

// Decodes the frames of `frames` (each exactly as long as its type needs) from a fresh reset,
// filling the scratch block with `garbage` before every frame; appends the samples to `pcm`.
void DecodeAll(const std::vector<std::unique_ptr<Block>>& frames, int32_t layout, uint8_t garbage,
               std::vector<int16_t>* pcm) {
  Block state(amrnb::kDecoderStateSize);
  Block scratch(amrnb::kDecoderScratchSize);
  auto* st = reinterpret_cast<amrnb::DecoderState*>(state.bytes);
  auto* sc = reinterpret_cast<amrnb::DecoderScratch*>(scratch.bytes);
  std::memset(state.bytes, garbage, amrnb::kDecoderStateSize);
  amrnb::ResetDecoder(0, st);
  Block out(kPcmFrameBytes);
  auto* samples = reinterpret_cast<int16_t*>(out.bytes);
  for (const auto& frame : frames) {
    std::memset(scratch.bytes, garbage, amrnb::kDecoderScratchSize);
    std::memset(out.bytes, 0, kPcmFrameBytes);
    const int32_t status = amrnb::DecodeFrame(frame->bytes, st, sc, samples, layout);
    pcm->insert(pcm->end(), samples, samples + amrnb::kFrameSamples);
    pcm->push_back(static_cast<int16_t>(status));  // a nonzero status shows as a mismatch below
  }
}

// Each frame in a heap block of exactly its size, so that AddressSanitizer reports a read past it.
std::vector<std::unique_ptr<Block>> SplitFrames(const uint8_t* data, size_t size, bool if2) {
  std::vector<std::unique_ptr<Block>> frames;
  size_t pos = 0;
  while (pos < size) frames.push_back(NextFrame(data, size, &pos, if2));
  return frames;
}

struct Unpacked {
  int32_t ft = -1;
  int32_t rx = -1;
  int32_t mode = -1;
  int16_t quality = -1;
  int16_t parm[amrnb::MAX_PRM];
};

Unpacked RunUnpacker(const uint8_t* frame, size_t size, bool if2) {
  Block copy(size);
  std::memcpy(copy.bytes, frame, size);
  Block parm(sizeof(int16_t) * amrnb::MAX_PRM);
  auto* p = reinterpret_cast<int16_t*>(parm.bytes);
  std::memset(parm.bytes, 0x5A, sizeof(int16_t) * amrnb::MAX_PRM);  // must all be overwritten
  Unpacked u;
  u.ft = if2 ? amrnb::UnpackIf2Frame(copy.bytes, p, &u.rx, &u.mode)
             : amrnb::UnpackStorageFrame(copy.bytes, p, &u.rx, &u.mode, &u.quality);
  std::memcpy(u.parm, p, sizeof u.parm);
  return u;
}

// Discards everything printed on standard output while alive.
class SilencedStdout {
 public:
  SilencedStdout() {
    std::fflush(stdout);
    saved_ = dup(1);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    close(null_fd);
  }
  ~SilencedStdout() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }
  SilencedStdout(const SilencedStdout&) = delete;
  SilencedStdout& operator=(const SilencedStdout&) = delete;

 private:
  int saved_;
};

int OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

// A scratch directory for the source and destination files, removed at exit.
class WorkDir {
 public:
  WorkDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/amrfuzz_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
    source = path_ + "/source.wav";
    destination = path_ + "/destination";
  }
  ~WorkDir() {
    unlink(source.c_str());
    unlink(destination.c_str());
    rmdir(path_.c_str());
  }
  std::string source;
  std::string destination;

 private:
  std::string path_;
};

WorkDir& Files() {
  static WorkDir dir;
  return dir;
}

bool ReadWholeFile(const std::string& path, Bytes* bytes) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  bytes->clear();
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes->insert(bytes->end(), chunk, chunk + n);
  std::fclose(f);
  return true;
}

uint32_t Le32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// Runs one job on the source already written, with output discarded; checks that it leaves no
// descriptor open and returns its status, or sets `fault`.
int32_t RunJob(int32_t (*job)(const char*, const char*), const char* name, std::string* fault) {
  WorkDir& files = Files();
  unlink(files.destination.c_str());
  SilencedStdout silence;
  const int before = OpenDescriptors();
  const int32_t status = job(files.source.c_str(), files.destination.c_str());
  if (OpenDescriptors() != before) *fault = std::string(name) + " left a file descriptor open";
  return status;
}

// Small deterministic generator for block and chunk sizes.
struct Sizes {
  uint32_t state;
  // Mostly small sizes, now and then a frame's or a large one.
  size_t Next() {
    state = state * 1103515245u + 12345u;
    const uint32_t r = state >> 8;
    switch (r % 4) {
      case 0: return 1 + r / 4 % 8;
      case 1: return 1 + r / 4 % 200;
      case 2: return 160 * (1 + r / 4 % 3);
      default: return 1 + r / 4 % 20000;
    }
  }
};

struct ChunkedInput {
  const uint8_t* data;
  size_t size;
  size_t pos;
  Sizes chunks;
  static long Read(void* user, void* buffer, size_t room) {
    auto* in = static_cast<ChunkedInput*>(user);
    const size_t n = std::min({room, in->chunks.Next(), in->size - in->pos});
    std::memcpy(buffer, in->data + in->pos, n);
    in->pos += n;
    return static_cast<long>(n);
  }
};

// Decodes an open file in blocks of random sizes into `pcm`; returns the last status, or
// sets `fault`.
amrnb_status DecodeInBlocks(amrnb_file* file, Sizes blocks, std::vector<int16_t>* pcm, std::string* fault) {
  amrnb_status status;
  size_t got = 0;
  bool ended = false;
  do {
    const size_t block = blocks.Next();
    Block out(block * sizeof(int16_t));  // exactly the block: a write past it is reported
    status = amrnb_file_read_pcm(file, reinterpret_cast<int16_t*>(out.bytes), block, &got);
    if (got > block) *fault = "read_pcm stored more samples than asked for";
    if (status == AMRNB_OK && ended && got > 0) *fault = "samples after a short block";
    ended = ended || got < block;
    const auto* samples = reinterpret_cast<const int16_t*>(out.bytes);
    pcm->insert(pcm->end(), samples, samples + std::min(got, block));
  } while (status == AMRNB_OK && got > 0 && fault->empty());
  return status;
}

}  // namespace

std::string DecodeFrames(const uint8_t* data, size_t size) {
  if (size == 0) return {};
  const bool if2 = (data[0] & 1) != 0;
  const int32_t layout = if2 ? data[0] : 0;
  std::vector<int16_t> first, second;
  DecodeAll(SplitFrames(data + 1, size - 1, if2), layout, 0x00, &first);
  DecodeAll(SplitFrames(data + 1, size - 1, if2), layout, 0xFF, &second);
  const size_t per_frame = amrnb::kFrameSamples + 1;
  for (size_t i = 0; i < first.size(); ++i) {
    if (i % per_frame == amrnb::kFrameSamples && first[i] != 0) {
      return Fault("DecodeFrame returned " + std::to_string(first[i]), i / per_frame);
    }
    if (first[i] != second[i]) return Fault("output depends on scratch or state garbage", i / per_frame);
  }
  return {};
}

std::string Unpack(const uint8_t* data, size_t size) {
  if (size < 2) return {};
  const bool if2 = (data[0] & 1) != 0;
  size_t pos = 1;
  const auto frame = NextFrame(data, size, &pos, if2);
  const uint8_t head = frame->bytes[0];
  const size_t frame_size = static_cast<size_t>(
      if2 ? amrnb::FrameBytes(head & 15, 1) : amrnb::FrameBytes((head >> 3) & 15, 0));
  const Unpacked u = RunUnpacker(frame->bytes, frame_size, if2);

  const int32_t ft = if2 ? head & 15 : (head >> 3) & 15;
  if (u.ft != ft) return "frame type " + std::to_string(u.ft) + " instead of " + std::to_string(ft);
  const int32_t rx = ft <= 7 ? amrnb::RX_SPEECH_GOOD
                   : ft == 8 ? u.rx
                   : ft == 15 ? amrnb::RX_NO_DATA
                              : amrnb::RX_SPEECH_BAD;
  if (u.rx != rx || (ft == 8 && rx != amrnb::RX_SID_FIRST && rx != amrnb::RX_SID_UPDATE)) {
    return "receive type " + std::to_string(u.rx) + " for frame type " + std::to_string(ft);
  }
  if (ft == 8 ? (u.mode < 0 || u.mode > 7) : u.mode != -1) {
    return "speech mode output " + std::to_string(u.mode) + " for frame type " + std::to_string(ft);
  }
  if (!if2 && u.quality != ((head >> 2) & 1)) return "quality bit not taken from the header byte";
  const int32_t count = amrtools::ParamCount(ft);
  for (int32_t i = 0; i < amrnb::MAX_PRM; ++i) {
    const int32_t limit = i < count ? 1 << amrtools::ParamBits(ft, i) : 1;
    if (u.parm[i] < 0 || u.parm[i] >= limit) {
      return "parameter " + std::to_string(i) + " = " + std::to_string(u.parm[i]) + " out of range";
    }
  }

  // Packing the parameters again must give a frame that unpacks to the same values.
  amrtools::FrameInfo info;
  info.frame_type = ft;
  info.quality = if2 ? 1 : u.quality;
  info.sti = u.rx == amrnb::RX_SID_UPDATE ? 1 : 0;
  info.sid_mode = ft == 8 ? u.mode : 0;
  const Bytes packed = amrtools::PackFrame(if2 ? amrtools::Layout::kIf2 : amrtools::Layout::kStorage, info, u.parm);
  if (packed.size() != (if2 ? static_cast<size_t>(amrnb::FrameBytes(ft, 1)) : ReaderSize(ft))) return "packer gives the wrong frame size";
  const Unpacked again = RunUnpacker(packed.data(), packed.size(), if2);
  if (again.ft != u.ft || again.rx != u.rx || again.mode != u.mode || again.quality != u.quality ||
      std::memcmp(again.parm, u.parm, sizeof u.parm) != 0) {
    return "repacked frame unpacks differently";
  }
  return {};
}

std::string Jobs(const uint8_t* data, size_t size) {
  WorkDir& files = Files();
  {
    FILE* f = std::fopen(files.source.c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) return {};
  }

  // What a correct job does with this source: the status, and the frames it converts.
  int32_t expected = 0;
  if (size < kSourceHeaderSize) {
    expected = 12;
  } else if ((data[20] | data[21] << 8) != 310) {
    expected = 14;
  }
  Bytes frames;
  std::vector<std::unique_ptr<Block>> decoder_frames;
  size_t count = 0;
  for (size_t pos = kSourceHeaderSize; expected == 0 && pos < size;) {
    const size_t n = ReaderSize((data[pos] >> 3) & 15);
    if (pos + n > size) break;  // a frame cut short at the end is dropped
    frames.insert(frames.end(), data + pos, data + pos + n);
    size_t at = pos;
    decoder_frames.push_back(NextFrame(data, pos + static_cast<size_t>(amrnb::FrameBytes((data[pos] >> 3) & 15, 0)), &at, false));
    pos += n;
    ++count;
  }

  std::string fault;
  Bytes out;
  const int32_t header_status = RunJob(RunHeaderJob, "header job", &fault);
  if (!fault.empty()) return fault;
  if (header_status != expected) {
    return "header job returned " + std::to_string(header_status) + ", expected " + std::to_string(expected);
  }
  const bool header_out = ReadWholeFile(files.destination, &out);
  if (expected != 0 && header_out) return "header job created a destination for a refused source";
  if (expected == 0) {
    Bytes want = {'#', '!', 'A', 'M', 'R', '\n'};
    want.insert(want.end(), frames.begin(), frames.end());
    if (out != want) return "header job destination differs from the magic and the source frames";
  }

  const int32_t decode_status = RunJob(RunDecodeJob, "decode job", &fault);
  if (!fault.empty()) return fault;
  if (decode_status != expected) {
    return "decode job returned " + std::to_string(decode_status) + ", expected " + std::to_string(expected);
  }
  const bool decode_out = ReadWholeFile(files.destination, &out);
  if (expected != 0) {
    return decode_out ? "decode job created a destination for a refused source" : std::string();
  }
  const uint32_t data_bytes = static_cast<uint32_t>(count * kPcmFrameBytes);
  if (out.size() != kSourceHeaderSize + data_bytes) return "decode job destination has the wrong size";
  if (std::memcmp(out.data(), "RIFF", 4) != 0 || Le32(out, 4) != data_bytes + 54 ||
      Le32(out, 50) != data_bytes / 16000 * 8000 || Le32(out, 58) != data_bytes) {
    return "decode job header does not count the samples written";
  }
  std::vector<int16_t> pcm;
  DecodeAll(decoder_frames, 0, 0x00, &pcm);
  for (size_t i = 0; i < count; ++i) {
    for (size_t j = 0; j < amrnb::kFrameSamples; ++j) {
      const size_t at = kSourceHeaderSize + 2 * (i * amrnb::kFrameSamples + j);
      const auto sample = static_cast<int16_t>(out[at] | out[at + 1] << 8);
      if (sample != pcm[i * (amrnb::kFrameSamples + 1) + j]) {
        return Fault("decode job samples differ from decoding the frames directly", i);
      }
    }
  }
  return {};
}

std::string FileReader(const uint8_t* data, size_t size) {
  if (size < 2) return {};
  const Sizes blocks{data[0] * 2654435761u};
  ChunkedInput input{data + 2, size - 2, 0, Sizes{data[1] * 40503u + 1}};
  const uint8_t* file_bytes = data + 2;
  const size_t file_size = size - 2;

  amrnb_file* memory = nullptr;
  amrnb_file* chunked = nullptr;
  amrnb_file* frames = nullptr;
  const amrnb_status opened = amrnb_file_open_memory(file_bytes, file_size, &memory);
  if (amrnb_file_open_callback(ChunkedInput::Read, &input, &chunked) != opened) return "memory and callback open differently";
  if (amrnb_file_open_memory(file_bytes, file_size, &frames) != opened) return "a second open differs";
  if (opened != AMRNB_OK) {
    if (memory != nullptr || chunked != nullptr || frames != nullptr) return "a failed open left a file";
    return {};
  }
  std::string fault;
  std::vector<int16_t> from_memory, from_callback;
  const amrnb_status a = DecodeInBlocks(memory, blocks, &from_memory, &fault);
  const amrnb_status b = DecodeInBlocks(chunked, Sizes{blocks.state ^ 0x5bd1e995u}, &from_callback, &fault);
  amrnb_file_stats stats{};
  amrnb_file_get_stats(memory, &stats);
  if (fault.empty() && (a != AMRNB_OK || b != AMRNB_OK)) fault = "reading the input failed";
  if (fault.empty() && from_memory != from_callback) fault = "memory and callback input decode differently";
  if (fault.empty() && (stats.samples != from_memory.size() || stats.frames * kPcmFrameBytes / 2 != from_memory.size())) {
    fault = "sample counts disagree";
  }

  // Frame by frame, decoded with the frame API: the same samples; the frames, the header and
  // the dropped tail add up to the input.
  size_t bytes = amrnb_file_kind_of(frames) == AMRNB_FILE_STORAGE ? AMRNB_STORAGE_MAGIC_BYTES : AMRNB_WAVE_HEADER_BYTES;
  amrnb::Decoder decoder;
  std::vector<int16_t> from_frames;
  unsigned char frame[AMRNB_MAX_FRAME_BYTES];
  size_t frame_size = 0;
  int type = -1;
  amrnb_status status = AMRNB_END_OF_STREAM;
  while (fault.empty() && (status = amrnb_file_read_frame(frames, frame, &frame_size, &type)) == AMRNB_OK) {
    if (static_cast<int>(frame_size) != amrnb_frame_bytes(frame[0], AMRNB_LAYOUT_STORAGE) || type != (frame[0] >> 3 & 15)) {
      fault = "frame size or type not the table's";
    }
    if (std::memcmp(frame, file_bytes + bytes, frame_size) != 0) fault = "frame bytes differ from the input";
    bytes += frame_size;
    int16_t pcm[amrnb::kFrameSamples];
    if (decoder.Decode(frame, frame_size, AMRNB_LAYOUT_STORAGE, pcm) != AMRNB_OK) fault = "frame refused by amrnb_decode";
    from_frames.insert(from_frames.end(), pcm, pcm + amrnb::kFrameSamples);
  }
  amrnb_file_stats frame_stats{};
  amrnb_file_get_stats(frames, &frame_stats);
  if (fault.empty() && status != AMRNB_END_OF_STREAM) fault = "read_frame ended with a failure";
  if (fault.empty() && bytes + frame_stats.dropped_tail_bytes != file_size) fault = "frames do not add up to the input";
  if (fault.empty() && frame_stats.dropped_tail_bytes >= AMRNB_MAX_FRAME_BYTES) fault = "dropped tail longer than a frame";
  if (fault.empty() && from_frames != from_memory) fault = "read_pcm and the frame API decode differently";
  amrnb_file_close(memory);
  amrnb_file_close(chunked);
  amrnb_file_close(frames);
  return fault;
}

}  // namespace fuzzentry
