// amrnb_convert_file: amrconv's two jobs (app/decode_job.cpp, app/header_job.cpp) on the
// library's file reader and storage writer, without the progress text. Every step that
// decides what the destination holds is amrconv's, in amrconv's order: the same opens and
// checks, the same 62-byte WAV header (pcm_wave_header.h, which amrconv's WriteWaveHeader
// builds too), and the frames written through the same kind of buffer as amrconv's
// FrameOutput (app/frame_output.h): whole frames gathered into one write of up to 64 KiB, a
// frame whose write falls short lost (the decode job goes on behind it, overwriting what it
// left and cutting the file behind the last whole frame at the end; the header job stops),
// on an unbuffered stream, so that each write's outcome is known at once. The failure
// messages are amrconv's, joined into result->message; the error numbers are taken where
// amrconv takes them. C library only, like the rest of the library: no C++ runtime.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "amrnb_decoder.h"
#include "amrnb_file.h"
#include "file_internal.h"
#include "file_platform.h"
#include "pcm_wave_header.h"

namespace {

namespace fp = amrnb::file_platform;

// amrconv's statuses (app/jobs.h, container/amr_wave_reader.h).
constexpr int kOk = 0;
constexpr int kArgumentRefused = 1;
constexpr int kOpenFailed = 3;
constexpr int kWriteFailed = 6;
constexpr int kHeaderFailed = 12;
constexpr int kHeaderWriteFailed = 13;
constexpr int kWrongFormat = 14;
constexpr int kSetupOrFinalHeaderFailed = 16;

constexpr size_t kPcmFrameBytes = AMRNB_FRAME_SAMPLES * 2;

// amrconv's failure messages, one after the other, cut to the result's buffer.
class Messages {
 public:
  Messages(char* text, size_t size) : text_(text), size_(size) { text_[0] = '\0'; }
  void Add(const char* format, ...) {
    if (used_ + 1 >= size_) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text_ + used_, size_ - used_, format, args);
    va_end(args);
    if (n > 0) used_ = std::min(size_ - 1, used_ + static_cast<size_t>(n));
  }

 private:
  char* text_;
  size_t size_;
  size_t used_ = 0;
};

// amrconv's FrameOutput without its text: frames held in one buffer and written with one
// call; when that call stops part-way, the frame it stopped in is lost and every later frame
// of the buffer gets a write of its own, so that each frame's outcome is what writing the
// frames one by one would have given. Owned memory is released by Release().
class FrameSink {
 public:
  // False when out of memory (nothing then needs releasing).
  bool Allocate() {
    bytes_ = static_cast<uint8_t*>(std::malloc(kBufferBytes));
    frame_end_ = static_cast<size_t*>(std::malloc(kMaxFrames * sizeof(size_t)));
    if (bytes_ != nullptr && frame_end_ != nullptr) return true;
    Release();
    return false;
  }
  void Release() {
    std::free(bytes_);
    std::free(frame_end_);
    bytes_ = nullptr;
    frame_end_ = nullptr;
  }

  // Frames start at byte `start` of `destination`, where the stream stands; the stream came
  // unbuffered from fp::OpenDestination.
  void Start(std::FILE* destination, uint64_t start, bool stop_at_first_loss, Messages* messages) {
    destination_ = destination;
    start_ = position_ = file_end_ = start;
    stop_at_first_loss_ = stop_at_first_loss;
    messages_ = messages;
  }

  bool HasRoom(size_t size) const { return frames_ < kMaxFrames && kBufferBytes - used_ >= size; }
  uint8_t* Add(size_t size) {
    uint8_t* at = bytes_ + used_;
    used_ += size;
    frame_end_[frames_++] = used_;
    return at;
  }
  size_t held_bytes() const { return used_; }
  uint64_t written() const { return position_ - start_; }

  // Writes the held frames; false when a frame was lost with `stop_at_first_loss`.
  bool Flush() {
    const size_t done = Write(bytes_, used_);
    int error = fp::LastError();
    bool kept_going = true;
    size_t begin = 0;
    bool stopped = false;
    for (size_t i = 0; i < frames_; begin = frame_end_[i++]) {
      const size_t size = frame_end_[i] - begin;
      size_t frame_done = size;
      if (stopped) {
        frame_done = Write(bytes_ + begin, size);
        error = fp::LastError();
      } else if (frame_end_[i] > done) {
        stopped = true;
        frame_done = done - begin;
      }
      if (frame_done == size) {
        position_ += size;
        continue;
      }
      messages_->Add("\n Failed to write. Error(%d)", error);
      if (stop_at_first_loss_) {
        kept_going = false;
        break;
      }
      // Back behind the last whole frame, so that the next frame overwrites what this one left.
      if (frame_done > 0 && seek_error_ == 0 && !fp::SeekStream(destination_, position_)) {
        seek_error_ = fp::LastError() != 0 ? fp::LastError() : -1;
      }
    }
    used_ = 0;
    frames_ = 0;
    return kept_going;
  }

  // Cuts what a frame lost last left behind the written frames; false if that failed.
  bool CutTail() {
    if (file_end_ <= position_) return true;
    fp::ClearLastError();
    if (!fp::TruncateStream(destination_, position_)) return false;
    file_end_ = position_;
    return true;
  }

 private:
  static constexpr size_t kBufferBytes = 64 * 1024;
  static constexpr size_t kMaxFrames = 4096;

  size_t Write(const uint8_t* bytes, size_t size) {
    if (seek_error_ != 0) {
      fp::SetLastError(seek_error_);
      return 0;
    }
    std::clearerr(destination_);
    fp::ClearLastError();
    const size_t done = std::fwrite(bytes, 1, size, destination_);
    file_end_ = std::max<uint64_t>(file_end_, position_ + done);
    return done;
  }

  std::FILE* destination_ = nullptr;
  uint64_t start_ = 0;
  bool stop_at_first_loss_ = false;
  Messages* messages_ = nullptr;
  uint64_t position_ = 0;
  uint64_t file_end_ = 0;
  int seek_error_ = 0;
  uint8_t* bytes_ = nullptr;
  size_t* frame_end_ = nullptr;
  size_t used_ = 0;
  size_t frames_ = 0;
};

struct Job {
  const char* source_path;
  const char* destination_path;
  uint32_t max_data_bytes;
  amrnb_convert_result* result;
  Messages* messages;
  amrnb_file* source = nullptr;
};

// amrconv's OpenAmrSource: opens and checks the source; 0, or 3, 12, 14 (16: out of memory).
int OpenSource(Job* job) {
  fp::ClearLastError();
  std::FILE* stream = fp::OpenPath(job->source_path, "rb");
  if (stream == nullptr) {
    job->messages->Add("Failed to open AMR File. Error(%d)", fp::LastError());
    job->messages->Add("Failed to Read File (%s)", job->source_path);
    return kOpenFailed;
  }
  amrnb_wave_header header;
  int read_error = 0;
  const amrnb_status status = amrnb::file_internal::OpenWaveStream(stream, &job->source, &header, &read_error);
  if (status == AMRNB_OK) return kOk;
  if (status == AMRNB_ERROR_MEMORY) {
    job->messages->Add("\nState memory allocation - malloc failed! Error(%d)", fp::LastError());
    job->messages->Add("\nFailed to Initialize AMR Decoder..");
    return kSetupOrFinalHeaderFailed;
  }
  int result = kHeaderFailed;
  if (status == AMRNB_ERROR_FORMAT_TAG) {
    job->messages->Add("\nInvalid Encoded Format(%u)", header.audio_format);
    result = kWrongFormat;
  } else {
    job->messages->Add("\nFailed to read AMR File. Error(%d)", read_error);
  }
  job->messages->Add("Failed to Read File (%s)", job->source_path);
  return result;
}

// amrconv's RefuseSourceAsDestination: the source itself, or where standard output goes.
bool RefuseDestination(Job* job) {
  fp::Identity destination;
  fp::Identity other;
  if (!fp::PathIdentity(job->destination_path, &destination)) return false;
  // The open source is compared, not its path, so that any spelling of the same file matches.
  if (fp::StreamIdentity(amrnb::file_internal::StreamOf(job->source), &other) && other == destination) {
    job->messages->Add("\nDestination (%s) is the source file (%s); refusing to overwrite it.",
                       job->destination_path, job->source_path);
  } else if (fp::StreamIdentity(stdout, &other) && other == destination) {
    job->messages->Add("\nDestination (%s) is where standard output goes; refusing to write both to it.",
                       job->destination_path);
  } else {
    return false;
  }
  return true;
}

// amrconv's OpenJobDestination: opens the destination as amrconv does, locked against a
// second writer (fp::OpenDestination); null, with amrconv's reason added, when it is refused.
// For an open that failed, `open_failure_line` follows, formatted with the source path.
std::FILE* OpenDestination(Job* job, bool fifo_needs_reader, const char* open_failure_line) {
  fp::DestinationOpen result = fp::DestinationOpen::kFailed;
  fp::ClearLastError();
  std::FILE* destination = fp::OpenDestination(job->destination_path, fifo_needs_reader, &result);
  if (result == fp::DestinationOpen::kBusy) {
    job->messages->Add("\nDestination (%s) is being written by another amrconv; refusing to write it too.",
                       job->destination_path);
  } else if (result == fp::DestinationOpen::kNoReader) {
    job->messages->Add("\nDestination (%s) is a FIFO that no program is reading; refusing to write into it.",
                       job->destination_path);
  } else if (destination == nullptr) {
    job->messages->Add("\nFailed to open(%s) Error(%d)", job->destination_path, fp::LastError());
    job->messages->Add(open_failure_line, job->source_path);
  }
  return destination;
}

// amrconv's WriteWaveHeader: rewinds and writes the 62 bytes; false (with its message) if that failed.
bool WriteWaveHeader(Job* job, std::FILE* destination, uint32_t data_bytes) {
  uint8_t header[amrnb::kPcmWaveHeaderBytes];
  amrnb::BuildPcmWaveHeader(data_bytes, header);
  std::rewind(destination);
  fp::ClearLastError();
  const size_t written = std::fwrite(header, sizeof header, 1, destination);
  if (written == 0) {
    job->messages->Add("\n Failed to write ret(%d) Error(%d)", static_cast<int>(written), fp::LastError());
    return false;
  }
  return true;
}

// amrconv's CloseDestination: flushes and closes; true if both succeeded.
bool CloseDestination(std::FILE* destination) {
  fp::ClearLastError();
  if (std::fflush(destination) != 0) {
    const int flush_error = fp::LastError();
    std::fclose(destination);
    fp::SetLastError(flush_error);
    return false;
  }
  return std::fclose(destination) == 0;
}

// Both jobs' first steps: the frame buffer, then the destination. Null with *status set (and
// the messages said) when either fails.
std::FILE* StartJob(Job* job, FrameSink* output, bool fifo_needs_reader, const char* open_failure_line,
                    int* status) {
  if (!output->Allocate()) {
    job->messages->Add("\nState memory allocation - malloc failed! Error(%d)", fp::LastError());
    job->messages->Add("\nFailed to Initialize AMR Decoder..");
    *status = kSetupOrFinalHeaderFailed;
    return nullptr;
  }
  std::FILE* destination = OpenDestination(job, fifo_needs_reader, open_failure_line);
  if (destination == nullptr) {
    output->Release();
    *status = kOpenFailed;
  }
  return destination;
}

// Event type 1: amrconv's DecodeToWave.
int DecodeToWave(Job* job) {
  Messages& say = *job->messages;
  FrameSink output;
  int status = kOk;
  // A pipe destination is refused below whether or not it has a reader.
  std::FILE* destination = StartJob(job, &output, false, "\nFailed to Initialize Wave File..", &status);
  if (destination == nullptr) return status;
  fp::ClearLastError();
  if (!fp::SeekStream(destination, 0)) {
    say.Add("\nDestination (%s) cannot be rewound to complete the WAV header (a pipe, socket or"
            " terminal?). Error(%d)", job->destination_path, fp::LastError());
    status = kOpenFailed;
  }
  if (status == kOk) {
    output.Start(destination, amrnb::kPcmWaveHeaderBytes, false, &say);
    if (!WriteWaveHeader(job, destination, 0)) {
      say.Add("\nFailed to Write Header. File(%s)", job->destination_path);
      say.Add("\nFailed to Initialize Wave File..");
      status = kHeaderWriteFailed;
    }
  }
  if (status != kOk) {
    std::fclose(destination);
    output.Release();
    return status;
  }

  bool size_limit_reached = false;
  for (;;) {
    // One frame's samples per call: blocks of a frame's size follow the frames exactly. A
    // read that fails ends the source, as amrconv's frame reader takes a failed read.
    short pcm[AMRNB_FRAME_SAMPLES];
    size_t samples = 0;
    if (amrnb_file_read_pcm(job->source, pcm, AMRNB_FRAME_SAMPLES, &samples) != AMRNB_OK ||
        samples == 0) {
      break;
    }
    if (job->max_data_bytes - output.written() - output.held_bytes() < kPcmFrameBytes) {
      output.Flush();
      if (job->max_data_bytes - output.written() < kPcmFrameBytes) {
        say.Add("\nThe WAV file is full after %u bytes of samples: its header cannot count"
                " more. Decoding stopped; the rest of the source was not converted.",
                static_cast<unsigned>(output.written()));
        size_limit_reached = true;
        break;
      }
    }
    if (!output.HasRoom(kPcmFrameBytes)) output.Flush();
    uint8_t* bytes = output.Add(kPcmFrameBytes);
    for (size_t i = 0; i < AMRNB_FRAME_SAMPLES; ++i) {
      const auto sample = static_cast<uint16_t>(pcm[i]);
      bytes[2 * i] = static_cast<uint8_t>(sample);
      bytes[2 * i + 1] = static_cast<uint8_t>(sample >> 8);
    }
  }
  output.Flush();

  const uint64_t data_bytes = output.written();
  job->result->frames = static_cast<unsigned long>(data_bytes / kPcmFrameBytes);
  bool header_written = false;
  fp::ClearLastError();
  if (!output.CutTail()) {
    say.Add("\n Failed to write ret(%d) Error(%d)", 0, fp::LastError());
  } else if (WriteWaveHeader(job, destination, static_cast<uint32_t>(data_bytes))) {
    header_written = CloseDestination(destination);
    destination = nullptr;
    if (!header_written) say.Add("\n Failed to write ret(%d) Error(%d)", 0, fp::LastError());
  }
  if (destination != nullptr) std::fclose(destination);
  output.Release();
  if (!header_written) {
    say.Add("\nFailed to Write Header.");
    say.Add("\nFailed to unInitialize Wave File..");
    return kSetupOrFinalHeaderFailed;
  }
  return size_limit_reached ? kSetupOrFinalHeaderFailed : kOk;
}

// The header job's frames go through the library's storage writer into this sink: the magic
// straight to the stream, each frame into the frame buffer.
struct StorageSink {
  std::FILE* destination;
  FrameSink* output;
  bool magic_written;
  int magic_error;
};

long WriteStorageBytes(void* user, const void* bytes, size_t size) {
  auto* sink = static_cast<StorageSink*>(user);
  if (!sink->magic_written) {
    sink->magic_written = true;
    fp::ClearLastError();
    const size_t n = std::fwrite(bytes, 1, size, sink->destination);
    sink->magic_error = fp::LastError();
    return static_cast<long>(n);
  }
  if (!sink->output->HasRoom(size) && !sink->output->Flush()) return -1;
  std::memcpy(sink->output->Add(size), bytes, size);
  return static_cast<long>(size);
}

// Event type 2: amrconv's RunHeaderJob.
int CopyToStorage(Job* job) {
  Messages& say = *job->messages;
  FrameSink output;
  int status = kOk;
  // Pipes are written to, but only one that a program reads.
  std::FILE* destination = StartJob(job, &output, true, "Failed to open File (%s)", &status);
  if (destination == nullptr) return status;
  output.Start(destination, AMRNB_STORAGE_MAGIC_BYTES, true, &say);
  StorageSink sink{destination, &output, false, 0};
  amrnb_storage_writer* writer = nullptr;
  const amrnb_status opened = amrnb_storage_writer_open_callback(WriteStorageBytes, &sink, &writer);
  if (opened != AMRNB_OK) {
    say.Add("\n Failed to write. AMR Header. Error(%d)", sink.magic_written ? sink.magic_error : fp::LastError());
    say.Add("Failed to open File (%s)", job->source_path);
    std::fclose(destination);
    output.Release();
    return kWriteFailed;
  }

  bool written = true;
  for (;;) {
    unsigned char frame[AMRNB_MAX_FRAME_BYTES];
    size_t size = 0;
    // A read that fails ends the source, as amrconv's frame reader takes a failed read.
    if (amrnb_file_read_frame(job->source, frame, &size, nullptr) != AMRNB_OK) break;
    if (amrnb_storage_writer_write(writer, frame, size) != AMRNB_OK) {
      written = false;
      break;
    }
    ++job->result->frames;
  }
  amrnb_storage_writer_close(writer);
  written = written && output.Flush();
  output.Release();
  if (!written) {
    say.Add("\nFailed to Decode AMR..");
    std::fclose(destination);
    return kWriteFailed;
  }
  fp::ClearLastError();
  if (std::fclose(destination) != 0) {
    say.Add("\n Failed to write. Error(%d)", fp::LastError());
    say.Add("\nFailed to Decode AMR..");
    return kWriteFailed;
  }
  return kOk;
}

}  // namespace

namespace amrnb::file_internal {

amrnb_status ConvertFile(const char* source, const char* destination, int event_type,
                         uint32_t max_data_bytes, amrnb_convert_result* result) {
  if (source == nullptr || destination == nullptr || result == nullptr) return AMRNB_ERROR_NULL;
  if (event_type != 1 && event_type != 2) return AMRNB_ERROR_USAGE;
  std::memset(result, 0, sizeof *result);
  Messages messages(result->message, sizeof result->message);
  Job job{source, destination, max_data_bytes, result, &messages};

  // amrconv's path rule: a longer path is refused before any file is touched.
  const char* const paths[] = {source, destination};
  for (int i = 0; i < 2; ++i) {
    if (fp::PathLength(paths[i]) > fp::kMaxPathChars || std::strlen(paths[i]) >= fp::kPathBufferBytes) {
      messages.Add("\nPath argument %d is longer than %u %s.", i + 1,
                   static_cast<unsigned>(fp::kMaxPathChars), fp::kPathLengthUnit);
      result->exit_status = kArgumentRefused;
      return AMRNB_OK;
    }
  }

  int status = OpenSource(&job);
  if (status == kOk && RefuseDestination(&job)) status = kOpenFailed;
  if (status == kOk) status = event_type == 1 ? DecodeToWave(&job) : CopyToStorage(&job);
  if (job.source != nullptr) {
    amrnb_file_stats stats;
    amrnb_file_get_stats(job.source, &stats);
    if (event_type == 1) result->concealed = stats.by_outcome[AMRNB_OUTCOME_CONCEALED];
    amrnb_file_close(job.source);
  }
  result->exit_status = status;
  result->seconds = static_cast<double>(result->frames) * 0.02;
  return AMRNB_OK;
}

}  // namespace amrnb::file_internal

extern "C" amrnb_status amrnb_convert_file(const char* source, const char* destination,
                                           int event_type, amrnb_convert_result* result) {
  return amrnb::file_internal::ConvertFile(source, destination, event_type,
                                           amrnb::kMaxPcmWaveDataBytes, result);
}
