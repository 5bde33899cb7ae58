#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "amrdec/amrnb_decoder.h"
#include "app/jobs.h"
#include "container/amr_wave_reader.h"
#include "container/byte_order.h"
#include "container/platform.h"
#include "container/wave_writer.h"

namespace {

constexpr uint32_t kPcmFrameBytes = amrnb::kFrameSamples * sizeof(int16_t);

}  // namespace

// The decoder's memory records: the persistent state block and the per-call scratch
// block, with the sizes the decoder declares. The job allocates and releases the blocks.
class AmrCodec {
 public:
  AmrCodec() = default;
  AmrCodec(const AmrCodec&) = delete;
  AmrCodec& operator=(const AmrCodec&) = delete;
  virtual ~AmrCodec() {}

  void Release() {
    std::free(state);
    std::free(scratch);
    state = nullptr;
    scratch = nullptr;
  }

  void* state = nullptr;
  size_t state_size = 0;
  void* scratch = nullptr;
  size_t scratch_size = 0;
};

int32_t RunDecodeJob(const char* source_path, const char* destination_path) {
  return DecodeToWave(source_path, destination_path, kMaxWaveDataBytes);
}

int32_t DecodeToWave(const char* source_path, const char* destination_path,
                     uint32_t max_data_bytes) {
  AMRFileHandler source;
  int32_t status = OpenAmrSource(source_path, &source);
  if (status != kReadOk) return status;
  if (RefuseSourceAsDestination(source_path, destination_path, &source) != kJobOk) {
    return kJobOpenFailed;
  }

  AmrCodec codec;
  codec.state_size = amrnb::kDecoderStateSize;
  codec.scratch_size = amrnb::kDecoderScratchSize;
  ClearLastError();
  codec.state = std::malloc(codec.state_size);
  if (codec.state == nullptr) {
    std::printf("\nState memory allocation - malloc failed! Error(%d)", GetLastError());
    std::printf("\nFailed to Initialize AMR Decoder..");
    source.Close();
    return kJobDecoderSetupOrFinalHeaderFailed;
  }
  ClearLastError();
  codec.scratch = std::malloc(codec.scratch_size);
  if (codec.scratch == nullptr) {
    std::printf("\nScratch memory allocation - malloc failed! Error(%d)", GetLastError());
    std::printf("\nFailed to Initialize AMR Decoder..");
    codec.Release();
    source.Close();
    return kJobDecoderSetupOrFinalHeaderFailed;
  }
  auto* state = static_cast<amrnb::DecoderState*>(codec.state);
  auto* scratch = static_cast<amrnb::DecoderScratch*>(codec.scratch);
  amrnb::ResetDecoder(0, state);

  ClearLastError();
  FILE* destination = OpenFile(destination_path, "wb+");
  if (destination == nullptr) {
    std::printf("\nFailed to open(%s) Error(%d)", destination_path, GetLastError());
    std::printf("\nFailed to Initialize Wave File..");
    codec.Release();
    source.Close();
    return kJobOpenFailed;
  }

  // The output goes out in 64 KB pieces instead of the default 4 KB: an hour of speech is
  // 115 MB. The buffer lives until the destination is closed below.
  std::vector<char> destination_buffer(64 * 1024);
  std::setvbuf(destination, destination_buffer.data(), _IOFBF, destination_buffer.size());

  // Every failure from here on keeps what the destination already holds: the
  // provisional header and the samples written so far.
  auto stop = [&](int32_t result) {
    if (destination != nullptr) std::fclose(destination);
    codec.Release();
    source.Close();
    return result;
  };

  status = WriteWaveHeader(0, destination);
  if (status != 0) {
    std::printf("\nFailed to Write Header. File(%s)", destination_path);
    std::printf("\nFailed to Initialize Wave File..");
    return stop(status);
  }

  uint8_t frame[kMaxFrameBytes];
  std::memset(frame, 0, sizeof frame);
  uint32_t length = 0;
  int32_t layout = -1;
  uint32_t data_bytes = 0;
  bool size_limit_reached = false;

  const uint32_t start_ms = GetTickCount();
  int32_t read_status = ReadAmrFrame(&source, frame, &length, &layout);
  while (read_status != kReadEndOfInput) {
    if (length == 0) {
      std::printf("\nFailed to read AMR File");
      return stop(read_status);
    }
    if (max_data_bytes - data_bytes < kPcmFrameBytes) {
      // One more frame would make the data larger than the header can count.
      std::printf("\nThe WAV file is full after %u bytes of samples: its header cannot count more."
                  " Decoding stopped; the rest of the source was not converted.",
                  static_cast<unsigned>(data_bytes));
      size_limit_reached = true;
      break;
    }
    // A frame type without frames (status 15) leaves a one-byte frame, which the
    // decoder conceals as a bad frame; its samples are written like any other.
    int16_t pcm[amrnb::kFrameSamples];
    std::memset(pcm, 0, sizeof pcm);
    const int32_t decode_status = amrnb::DecodeFrame(frame, state, scratch, pcm, layout);
    if (decode_status != amrnb::AMRNBDEC_OK) {
      std::printf("\nDecoder error: 0x%08x, exiting...\n", static_cast<unsigned>(decode_status));
      if (decode_status == amrnb::AMRNBDEC_ERROR_GENERAL) {
        std::printf("\nDecode Failed AMRNBDEC_ERROR_GENERAL");
      } else if (decode_status == amrnb::AMRNBDEC_ERROR_BITSTREAM) {
        std::printf("\nDecode Failed AMRNBDEC_ERROR_BITSTREAM");
      }
      std::printf("\nFailed to Decode AMR..");
      return stop(kJobDecoderFailed);
    }
    uint8_t pcm_bytes[kPcmFrameBytes];
    for (size_t i = 0; i < amrnb::kFrameSamples; ++i) {
      StoreLe16(pcm_bytes + 2 * i, static_cast<uint16_t>(pcm[i]));
    }
    // A failed write is reported and skipped: the final header counts only whole frames.
    ClearLastError();
    if (std::fwrite(pcm_bytes, 1, kPcmFrameBytes, destination) < kPcmFrameBytes) {
      std::printf("\n Failed to write. Error(%d)", GetLastError());
    } else {
      data_bytes += kPcmFrameBytes;
    }
    std::putchar('.');
    layout = -1;
    read_status = ReadAmrFrame(&source, frame, &length, &layout);
  }

  if (!size_limit_reached) PrintEndOfFileTimes(start_ms);
  // Samples still in the stdio buffer must reach the file before the header that counts them
  // is rewritten: the rewind would discard a flush error. The header itself is checked when
  // the file is closed, and it must sit at the start (a destination that cannot be rewound,
  // such as a pipe, would get it after the samples). Each failure is a failed final header.
  bool header_written = false;
  ClearLastError();
  if (std::fflush(destination) != 0) {
    std::printf("\n Failed to write ret(%d) Error(%d)", 0, GetLastError());
  } else if (WriteWaveHeader(data_bytes, destination) == 0) {
    ClearLastError();
    const bool at_header_end = std::ftell(destination) == static_cast<long>(kWaveHeaderSize);
    const int position_error = GetLastError();
    header_written = CloseDestination(destination) && at_header_end;
    destination = nullptr;
    if (!header_written) {
      std::printf("\n Failed to write ret(%d) Error(%d)", 0,
                  at_header_end ? GetLastError() : position_error);
    }
  }
  if (!header_written) {
    std::printf("\nFailed to Write Header.");
    std::printf("\nFailed to unInitialize Wave File..");
    return stop(kJobDecoderSetupOrFinalHeaderFailed);
  }
  return stop(size_limit_reached ? kJobDecoderSetupOrFinalHeaderFailed : kJobOk);
}
