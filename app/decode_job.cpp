#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "amrdec/amrnb_decoder.h"
#include "app/frame_output.h"
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

  // A pipe destination is refused below whether or not it has a reader.
  FILE* destination = OpenJobDestination(destination_path, false, "\nFailed to Initialize Wave File..",
                                         source_path, &source);
  if (destination == nullptr) {
    codec.Release();
    return kJobOpenFailed;
  }

  // Every failure from here on keeps what the destination already holds: the
  // provisional header and the samples written so far.
  auto stop = [&](int32_t result) {
    if (destination != nullptr) std::fclose(destination);
    codec.Release();
    source.Close();
    return result;
  };

  // The final header goes back to the start of the file: a destination that cannot seek (a
  // pipe, a socket, a terminal) is refused before anything is written to it.
  ClearLastError();
  if (!SeekStream(destination, 0)) {
    std::printf("\nDestination (%s) cannot be rewound to complete the WAV header (a pipe, socket or"
                " terminal?). Error(%d)", destination_path, GetLastError());
    return stop(kJobOpenFailed);
  }

  // Samples go out through one buffer of whole frames, with the progress text held with them
  // until their write is known. The stream came unbuffered, so the headers' writes are known
  // at once too.
  FrameOutput output(destination, kWaveHeaderSize, false);
  status = WriteWaveHeader(0, destination);
  if (status != 0) {
    std::printf("\nFailed to Write Header. File(%s)", destination_path);
    std::printf("\nFailed to Initialize Wave File..");
    return stop(status);
  }
  source.HoldFrameText(output.text());

  uint8_t frame[kMaxFrameBytes];
  std::memset(frame, 0, sizeof frame);
  uint32_t length = 0;
  int32_t layout = -1;
  bool size_limit_reached = false;
  int interrupt = 0;

  const uint32_t start_ms = GetTickCount();
  int32_t read_status = ReadAmrFrame(&source, frame, &length, &layout);
  while (read_status != kReadEndOfInput) {
    if (length == 0) {
      output.Flush();
      std::printf("\nFailed to read AMR File");
      return stop(read_status);
    }
    // One more frame must not make the data larger than the header can count. The frames
    // held count as written until their write is known.
    if (max_data_bytes - output.written() - output.held_bytes() < kPcmFrameBytes) {
      output.Flush();
      if (max_data_bytes - output.written() < kPcmFrameBytes) {
        std::printf("\nThe WAV file is full after %u bytes of samples: its header cannot count"
                    " more. Decoding stopped; the rest of the source was not converted.",
                    static_cast<unsigned>(output.written()));
        size_limit_reached = true;
        break;
      }
    }
    // A frame type without frames (status 15) leaves a one-byte frame, which the
    // decoder conceals as a bad frame; its samples are written like any other.
    int16_t pcm[amrnb::kFrameSamples];
    std::memset(pcm, 0, sizeof pcm);
    const int32_t decode_status = amrnb::DecodeFrame(frame, state, scratch, pcm, layout);
    if (decode_status != amrnb::AMRNBDEC_OK) {
      output.Flush();
      std::printf("\nDecoder error: 0x%08x, exiting...\n", static_cast<unsigned>(decode_status));
      if (decode_status == amrnb::AMRNBDEC_ERROR_GENERAL) {
        std::printf("\nDecode Failed AMRNBDEC_ERROR_GENERAL");
      } else if (decode_status == amrnb::AMRNBDEC_ERROR_BITSTREAM) {
        std::printf("\nDecode Failed AMRNBDEC_ERROR_BITSTREAM");
      }
      std::printf("\nFailed to Decode AMR..");
      return stop(kJobDecoderFailed);
    }
    // A frame whose write fails is reported and skipped when the buffer is written: the
    // final header counts only whole frames.
    if (!output.HasRoom(kPcmFrameBytes)) output.Flush();
    uint8_t* pcm_bytes = output.Add(kPcmFrameBytes);
    for (size_t i = 0; i < amrnb::kFrameSamples; ++i) {
      StoreLe16(pcm_bytes + 2 * i, static_cast<uint16_t>(pcm[i]));
    }
    output.text()->push_back('.');
    if ((interrupt = PendingInterrupt()) != 0) break;
    layout = -1;
    read_status = ReadAmrFrame(&source, frame, &length, &layout);
  }
  // An interrupted read of a FIFO source ends the frames like the end of the input.
  if (!size_limit_reached && interrupt == 0) interrupt = PendingInterrupt();
  output.Flush();
  source.HoldFrameText(nullptr);

  if (!size_limit_reached && interrupt == 0) PrintEndOfFileTimes(start_ms);
  // The header counts the whole frames in the file, which then ends with the last of them.
  const uint64_t data_bytes = output.written();
  bool header_written = false;
  ClearLastError();
  if (!output.CutTail()) {
    std::printf("\n Failed to write ret(%d) Error(%d)", 0, GetLastError());
  } else if (WriteWaveHeader(static_cast<uint32_t>(data_bytes), destination) == 0) {
    header_written = CloseDestination(destination);
    destination = nullptr;
    if (!header_written) std::printf("\n Failed to write ret(%d) Error(%d)", 0, GetLastError());
  }
  if (!header_written) {
    std::printf("\nFailed to Write Header.");
    std::printf("\nFailed to unInitialize Wave File..");
    return stop(kJobDecoderSetupOrFinalHeaderFailed);
  }
  if (interrupt != 0) {
    return stop(ReportInterrupt(interrupt, data_bytes / kPcmFrameBytes, "decoded ",
                                "which the WAV file holds under a complete header."));
  }
  return stop(size_limit_reached ? kJobDecoderSetupOrFinalHeaderFailed : kJobOk);
}
