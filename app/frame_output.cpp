#include "app/frame_output.h"

#include <algorithm>

#include "container/platform.h"

namespace {
// 64 KiB: 204 decoded frames per write.
constexpr size_t kBufferBytes = 64 * 1024;
}  // namespace

FrameOutput::FrameOutput(FILE* destination, uint64_t start, bool stop_at_first_loss)
    : destination_(destination),
      start_(start),
      stop_at_first_loss_(stop_at_first_loss),
      position_(start),
      file_end_(start),
      bytes_(kBufferBytes),
      frame_end_(kMaxFrames),
      text_mark_(kMaxFrames) {
  text_.reserve(4096);
}

size_t FrameOutput::Write(const uint8_t* bytes, size_t size) {
  if (seek_error_ != 0) {
    SetLastError(seek_error_);
    return 0;
  }
  std::clearerr(destination_);
  ClearLastError();
  const size_t done = std::fwrite(bytes, 1, size, destination_);
  file_end_ = std::max(file_end_, position_ + done);
  return done;
}

void FrameOutput::PrintText(size_t from, size_t to) const {
  if (to > from) std::fwrite(text_.data() + from, 1, to - from, stdout);
}

bool FrameOutput::Flush() {
  // One write for all frames. The frames it wrote whole are done; the one it stopped in is
  // lost with its error; each frame behind that one gets a write of its own.
  const size_t done = Write(bytes_.data(), used_);
  int error = GetLastError();
  bool kept_going = true;
  size_t text_from = 0;
  size_t begin = 0;
  bool stopped = false;
  for (size_t i = 0; i < frames_; begin = frame_end_[i++]) {
    const size_t size = frame_end_[i] - begin;
    size_t frame_done = size;
    if (stopped) {
      frame_done = Write(bytes_.data() + begin, size);
      error = GetLastError();
    } else if (frame_end_[i] > done) {
      stopped = true;
      frame_done = done - begin;
    }
    if (frame_done == size) {
      position_ += size;
      ++frames_written_;
      continue;
    }
    PrintText(text_from, text_mark_[i]);
    std::printf("\n Failed to write. Error(%d)", error);
    text_from = text_mark_[i];
    if (stop_at_first_loss_) {
      kept_going = false;
      text_from = text_.size();  // no frame after this one would have been read
      break;
    }
    // Put the stream back behind the last whole frame, so that the next frame overwrites
    // what this one left.
    if (frame_done > 0 && seek_error_ == 0 && !SeekStream(destination_, position_)) {
      seek_error_ = GetLastError() != 0 ? GetLastError() : -1;
    }
  }
  PrintText(text_from, text_.size());
  text_.clear();
  used_ = 0;
  frames_ = 0;
  return kept_going;
}

bool FrameOutput::CutTail() {
  if (file_end_ <= position_) return true;
  ClearLastError();
  if (!TruncateStream(destination_, position_)) return false;
  file_end_ = position_;
  return true;
}
