#include <cstdio>
#include <cstring>

#include "amrdec/amrnb_file.h"
#include "app/frame_output.h"
#include "app/jobs.h"
#include "container/amr_wave_reader.h"
#include "container/platform.h"

namespace {
constexpr size_t kAmrMagicSize = AMRNB_STORAGE_MAGIC_BYTES;

// The library's storage writer writes the magic and the frames through this: the magic
// straight to the destination, each frame into the frame buffer.
struct Destination {
  FILE* stream;
  FrameOutput* output;
  bool magic_written;
  int magic_error;  // the error number the magic's write left
};

long WriteToDestination(void* user, const void* bytes, size_t size) {
  auto* destination = static_cast<Destination*>(user);
  if (!destination->magic_written) {
    destination->magic_written = true;
    ClearLastError();
    const size_t written = std::fwrite(bytes, 1, size, destination->stream);
    destination->magic_error = GetLastError();
    return static_cast<long>(written);
  }
  FrameOutput& output = *destination->output;
  if (!output.HasRoom(static_cast<uint32_t>(size)) && !output.Flush()) return -1;
  std::memcpy(output.Add(static_cast<uint32_t>(size)), bytes, size);
  return static_cast<long>(size);
}
}  // namespace

int32_t RunHeaderJob(const char* source_path, const char* destination_path) {
  AMRFileHandler source;
  const int32_t source_status = OpenAmrSource(source_path, &source);
  if (source_status != kReadOk) return source_status;
  if (RefuseSourceAsDestination(source_path, destination_path, &source) != kJobOk) {
    return kJobOpenFailed;
  }

  // Pipes are written to, but only one that a program reads.
  FILE* destination = OpenJobDestination(destination_path, true, "Failed to open File (%s)",
                                         source_path, &source);
  if (destination == nullptr) return kJobOpenFailed;
  // Frames go out through one buffer, with the progress text held with them until their
  // write is known; the stream came unbuffered, so the magic's write is known at once too.
  FrameOutput output(destination, kAmrMagicSize, true);
  Destination sink{destination, &output, false, 0};
  amrnb_storage_writer* writer = nullptr;
  auto stop = [&](int32_t result) {
    if (writer != nullptr) amrnb_storage_writer_close(writer);
    std::fclose(destination);
    source.Close();
    return result;
  };
  ClearLastError();
  if (amrnb_storage_writer_open_callback(WriteToDestination, &sink, &writer) != AMRNB_OK) {
    // A pipe that is full and not read holds the magic until an interrupt cuts the wait.
    if (const int signal_number = PendingInterrupt(); signal_number != 0) {
      return stop(ReportInterrupt(signal_number, 0, "", "which the AMR file holds."));
    }
    std::printf("\n Failed to write. AMR Header. Error(%d)", sink.magic_written ? sink.magic_error : GetLastError());
    std::printf("Failed to open File (%s)", source_path);
    return stop(kJobWriteFailed);
  }
  source.HoldFrameText(output.text());

  uint8_t frame[kMaxFrameBytes];
  std::memset(frame, 0, sizeof frame);
  uint32_t length = 0;
  int32_t layout = -1;
  int interrupt = 0;
  bool written = true;

  const uint32_t start_ms = GetTickCount();
  int32_t read_status = ReadAmrFrame(&source, frame, &length, &layout);
  while (written && read_status != kReadEndOfInput && length != 0) {
    // A frame type without frames (status 15) leaves its single header byte, which is
    // copied like any frame; the next read starts at the byte after it.
    if (amrnb_storage_writer_write(writer, frame, length) != AMRNB_OK) {
      written = false;
      break;
    }
    output.text()->push_back('.');
    if ((interrupt = PendingInterrupt()) != 0) break;
    layout = -1;
    read_status = ReadAmrFrame(&source, frame, &length, &layout);
  }
  // The frames still held are written now; a lost frame stops the job like a failed write.
  written = written && output.Flush();
  // An interrupt that cut a write to a pipe short, or a read of a FIFO source, ends the job
  // as an interrupt, with the frames that were written whole.
  if (interrupt == 0) interrupt = PendingInterrupt();
  if (interrupt != 0) {
    amrnb_storage_writer_close(writer);
    writer = nullptr;
    std::fclose(destination);
    source.Close();
    return ReportInterrupt(interrupt, output.frames_written(), "", "which the AMR file holds.");
  }
  if (!written) {
    std::printf("\nFailed to Decode AMR..");
    return stop(kJobWriteFailed);
  }
  if (read_status != kReadEndOfInput && length == 0) {
    std::printf("\nFailed to read AMR File");
    return stop(read_status);
  }
  amrnb_storage_writer_close(writer);  // frees it: the frames are in the file already
  writer = nullptr;
  ClearLastError();
  const bool closed = std::fclose(destination) == 0;
  source.Close();
  if (!closed) {
    std::printf("\n Failed to write. Error(%d)", GetLastError());
    std::printf("\nFailed to Decode AMR..");
    return kJobWriteFailed;
  }
  PrintEndOfFileTimes(start_ms);
  return kJobOk;
}
