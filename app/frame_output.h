// Whole frames on their way to a job's destination, with the progress text that reports on
// them. Frames are gathered in one buffer and written with one call; the text waits with
// them, so that a frame's "." or its failure message reaches standard output only once the
// outcome of its write is known. When that write stops part-way, the frame it stopped in is
// lost, the bytes it left are cut from the file, and every later frame of the buffer gets a
// write of its own: each frame's outcome, and so the text, is what writing the frames one by
// one would have given, and the file holds whole frames only.
#ifndef APP_FRAME_OUTPUT_H
#define APP_FRAME_OUTPUT_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class FrameOutput {
 public:
  // Frames start at byte `start` of `destination`, where the stream stands. The stream must
  // be unbuffered (OpenDestination opens it so), so that each write here reaches the file or
  // fails at once. With `stop_at_first_loss`, a lost frame ends the output (the header job);
  // otherwise each lost frame is reported and the output goes on (the decode job).
  FrameOutput(FILE* destination, uint64_t start, bool stop_at_first_loss);
  FrameOutput(const FrameOutput&) = delete;
  FrameOutput& operator=(const FrameOutput&) = delete;

  // The held text, which the frame reader and the job append to.
  std::string* text() { return &text_; }

  // Whether a frame of `size` bytes fits behind the held ones.
  bool HasRoom(uint32_t size) const {
    return frames_ < kMaxFrames && bytes_.size() - used_ >= size;
  }

  // Holds a frame of `size` bytes (call HasRoom first) and returns where its bytes go. A
  // failure message for it would go at the current end of the text.
  uint8_t* Add(uint32_t size) {
    text_mark_[frames_] = text_.size();
    uint8_t* at = bytes_.data() + used_;
    used_ += size;
    frame_end_[frames_++] = used_;
    return at;
  }

  // Bytes held but not yet written.
  uint32_t held_bytes() const { return static_cast<uint32_t>(used_); }

  // Writes the held frames and prints the held text, with "\n Failed to write. Error(%d)"
  // where each lost frame's "." would follow. Returns false when a frame was lost with
  // `stop_at_first_loss`: the text then ends with that frame's message.
  bool Flush();

  // Bytes of the frames written, all whole, from `start` on.
  uint64_t written() const { return position_ - start_; }

  // Number of frames written whole.
  uint64_t frames_written() const { return frames_written_; }

  // Cuts what a frame lost last left behind the written frames; false if that failed.
  bool CutTail();

 private:
  static constexpr size_t kMaxFrames = 4096;

  // Writes `size` bytes at the current position; returns how many reached the file and
  // leaves the error number of a failed write.
  size_t Write(const uint8_t* bytes, size_t size);
  void PrintText(size_t from, size_t to) const;

  FILE* destination_;
  uint64_t start_;
  bool stop_at_first_loss_;
  uint64_t position_;   // end of the frames written
  uint64_t file_end_;   // end of the bytes written, a lost frame's included
  uint64_t frames_written_ = 0;
  int seek_error_ = 0;  // nonzero once the stream could not be put back after a lost frame
  std::vector<uint8_t> bytes_;
  size_t used_ = 0;
  size_t frames_ = 0;
  std::vector<size_t> frame_end_;
  std::vector<size_t> text_mark_;
  std::string text_;
};

#endif  // APP_FRAME_OUTPUT_H
