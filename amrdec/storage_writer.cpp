// The "#!AMR\n" storage-file writer of amrnb_file.h: the magic, then each frame as given,
// checked against the library's frame-size table. A callback writer calls the callback once
// for the magic and once per frame, with nothing held back, so that the caller sees each
// write's outcome at once (amrconv's header job writes through it this way).
#include <cstdlib>
#include <new>

#include "amrnb_file.h"
#include "file_platform.h"

struct amrnb_storage_writer {
  std::FILE* stream = nullptr;
  amrnb_write_fn write = nullptr;
  void* user = nullptr;
  bool failed = false;  // sticky: a write fell short
};

namespace {

bool Put(amrnb_storage_writer* w, const void* bytes, size_t size) {
  if (w->failed) return false;
  if (w->stream != nullptr) {
    w->failed = std::fwrite(bytes, 1, size, w->stream) != size;
  } else {
    const long n = w->write(w->user, bytes, size);
    w->failed = n < 0 || static_cast<unsigned long>(n) != size;
  }
  return !w->failed;
}

amrnb_storage_writer* Create() {
  void* memory = std::malloc(sizeof(amrnb_storage_writer));
  return memory != nullptr ? new (memory) amrnb_storage_writer : nullptr;
}

void Destroy(amrnb_storage_writer* w) {
  w->~amrnb_storage_writer();
  std::free(w);
}

amrnb_status Start(amrnb_storage_writer* w, amrnb_storage_writer** writer) {
  if (!Put(w, AMRNB_STORAGE_MAGIC, AMRNB_STORAGE_MAGIC_BYTES)) {
    if (w->stream != nullptr) std::fclose(w->stream);
    Destroy(w);
    return AMRNB_ERROR_WRITE;
  }
  *writer = w;
  return AMRNB_OK;
}

}  // namespace

extern "C" {

amrnb_status amrnb_storage_writer_open_path(const char* path, amrnb_storage_writer** writer) {
  if (path == nullptr || writer == nullptr) return AMRNB_ERROR_NULL;
  *writer = nullptr;
  amrnb_storage_writer* w = Create();
  if (w == nullptr) return AMRNB_ERROR_MEMORY;
  w->stream = amrnb::file_platform::OpenPath(path, "wb");
  if (w->stream == nullptr) {
    Destroy(w);
    return AMRNB_ERROR_OPEN;
  }
  return Start(w, writer);
}

amrnb_status amrnb_storage_writer_open_callback(amrnb_write_fn write, void* user,
                                                amrnb_storage_writer** writer) {
  if (write == nullptr || writer == nullptr) return AMRNB_ERROR_NULL;
  *writer = nullptr;
  amrnb_storage_writer* w = Create();
  if (w == nullptr) return AMRNB_ERROR_MEMORY;
  w->write = write;
  w->user = user;
  return Start(w, writer);
}

amrnb_status amrnb_storage_writer_write(amrnb_storage_writer* writer, const unsigned char* frame,
                                        size_t size) {
  if (writer == nullptr || frame == nullptr) return AMRNB_ERROR_NULL;
  if (size == 0 || size != static_cast<size_t>(amrnb_frame_bytes(frame[0], AMRNB_LAYOUT_STORAGE))) {
    return AMRNB_ERROR_FRAME_SIZE;
  }
  return Put(writer, frame, size) ? AMRNB_OK : AMRNB_ERROR_WRITE;
}

amrnb_status amrnb_storage_writer_close(amrnb_storage_writer* writer) {
  if (writer == nullptr) return AMRNB_ERROR_NULL;
  bool failed = writer->failed;
  if (writer->stream != nullptr && std::fclose(writer->stream) != 0) failed = true;
  Destroy(writer);
  return failed ? AMRNB_ERROR_WRITE : AMRNB_OK;
}

}  // extern "C"
