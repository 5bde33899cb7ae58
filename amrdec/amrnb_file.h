/* SPDX-License-Identifier: Apache-2.0 */
/* File interface of the AMR-NB decoder library: reads AMR-in-WAV files (a 62-byte RIFF/WAVE
 * header with audio format tag 310, then storage-layout frames) and "#!AMR\n" storage
 * files, frame by frame or decoded straight to PCM in blocks of any size; writes "#!AMR\n"
 * storage files; converts a file as amrconv does. Nothing here prints.
 *
 *   amrnb_file* f;
 *   short pcm[4000];
 *   size_t got;
 *   if (amrnb_file_open_path("call.wav", &f) != AMRNB_OK) ...;
 *   while (amrnb_file_read_pcm(f, pcm, 4000, &got) == AMRNB_OK && got > 0)
 *     consume(pcm, got);
 *   amrnb_file_close(f);
 *
 * C++: amrnb::File and amrnb::StorageWriter in amrnb_decoder.h own these handles.
 *
 * Damaged input follows amrconv's rules: the frames run from the end of the header to the
 * end of the file; a last frame cut short is dropped (and counted); a header byte of frame
 * type 10 to 14 is a one-byte frame that the decoder conceals as a bad frame. Every failure
 * is a status; no input makes a call read or write outside its buffers.
 *
 * Threading: one amrnb_file per thread at a time; distinct files are independent.
 *
 * This header compiles alone as C89 or later and as C++. */
#ifndef AMRDEC_AMRNB_FILE_H
#define AMRDEC_AMRNB_FILE_H

#include <stddef.h>

#include "amrnb_decoder_c.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The six bytes that begin a storage file. */
#define AMRNB_STORAGE_MAGIC "#!AMR\n"
#define AMRNB_STORAGE_MAGIC_BYTES 6

/* Bytes of the AMR-in-WAV header; the first frame starts right after it. */
#define AMRNB_WAVE_HEADER_BYTES 62
/* The audio format tag an AMR-in-WAV header must carry. */
#define AMRNB_WAVE_FORMAT_TAG 310

/* What an opened file is. */
typedef enum amrnb_file_kind {
  AMRNB_FILE_AMR_WAVE = 1, /* RIFF/WAVE with audio format tag 310 */
  AMRNB_FILE_STORAGE = 2   /* "#!AMR\n" storage file */
} amrnb_file_kind;

/* The 62-byte AMR-in-WAV header, field by field (little-endian in the file). The identifiers
 * are the four bytes as stored, not NUL-terminated. Only audio_format is checked. */
typedef struct amrnb_wave_header {
  char riff_id[4];          /* offset 0 */
  long chunk_size;          /* 4, signed 32-bit */
  char wave_id[4];          /* 8 */
  char fmt_id[4];           /* 12 */
  long fmt_size;            /* 16 */
  unsigned audio_format;    /* 20, unsigned 16-bit: 310 */
  unsigned channels;        /* 22 */
  long sample_rate;         /* 24 */
  long byte_rate;           /* 28 */
  unsigned block_align;     /* 32 */
  unsigned bits_per_sample; /* 34 */
  unsigned extra_format_bytes_len; /* 36 */
  long extra_format_bytes;  /* 38 */
  char fact_id[4];          /* 42 */
  long fact_size;           /* 46 */
  long fact_data;           /* 50 */
  char data_id[4];          /* 54 */
  long data_size;           /* 58 */
} amrnb_wave_header;

/* Counts kept by a file while it is read. */
typedef struct amrnb_file_stats {
  unsigned long frames;              /* frames read (decoded or returned) */
  unsigned long by_type[16];         /* frames by frame type */
  unsigned long by_outcome[5];       /* decoded frames by amrnb_outcome (read_pcm only) */
  unsigned long dropped_tail_bytes;  /* bytes of a last frame cut short, dropped */
  unsigned long samples;             /* samples delivered by amrnb_file_read_pcm */
} amrnb_file_stats;

/* Reads up to `size` bytes into `buffer`; returns the count read (0 at the end of the input)
 * or a negative value for a read error. Short counts before the end are allowed. */
typedef long (*amrnb_read_fn)(void* user, void* buffer, size_t size);

/* Writes `size` bytes from `buffer`; returns the count written (less than `size` is an error). */
typedef long (*amrnb_write_fn)(void* user, const void* buffer, size_t size);

typedef struct amrnb_file amrnb_file;

/* ---- Frame sizes ----------------------------------------------------------------------- */

/* Bytes of the frame that begins with `first_byte` in the given layout, first byte included:
 * storage layout (frame type in bits 6..3) 13, 14, 16, 18, 20, 21, 27, 32 for types 0..7, 6
 * for SID, 32 for type 9, 1 for types 10 to 15; IF2 (frame type in bits 3..0) 13, 14, 16, 18,
 * 19, 21, 26, 31, 6, then 1 for types 9 to 15. 0 for an unknown layout. This is the size the
 * file reader takes for each frame. */
AMRNB_API int amrnb_frame_bytes(unsigned first_byte, int layout);

/* ---- The AMR-in-WAV header ------------------------------------------------------------ */

/* Parses the 62 header bytes at `bytes` (`size` bytes available) into *header, as the reader
 * does. AMRNB_OK for audio format tag 310; AMRNB_ERROR_FORMAT_TAG for any other tag (*header
 * is filled all the same); AMRNB_ERROR_SHORT_HEADER when `size` is below 62 (nothing is read);
 * AMRNB_ERROR_NULL. */
AMRNB_API amrnb_status amrnb_parse_wave_header(const void* bytes, size_t size,
                                               amrnb_wave_header* header);

/* ---- Reading ---------------------------------------------------------------------------- */

/* Opens a file by path (UTF-8; on Windows converted to UTF-16). The kind is told by the first
 * bytes: "#!AMR\n" makes a storage file, anything else is read as an AMR-in-WAV header.
 * Statuses: AMRNB_ERROR_NULL, AMRNB_ERROR_OPEN, AMRNB_ERROR_READ, AMRNB_ERROR_SHORT_HEADER
 * (fewer than 62 header bytes), AMRNB_ERROR_FORMAT_TAG (tag not 310), AMRNB_ERROR_MEMORY. An
 * input of fewer than 6 bytes is a short header. On failure *file is NULL. The file object,
 * allocated here, holds the decoder (no other call allocates). */
AMRNB_API amrnb_status amrnb_file_open_path(const char* path, amrnb_file** file);

/* Opens `size` bytes at `data`, which are not copied and must outlive the file (`data` may
 * be NULL when `size` is 0). Statuses as for a path, AMRNB_ERROR_OPEN and AMRNB_ERROR_READ
 * aside. */
AMRNB_API amrnb_status amrnb_file_open_memory(const void* data, size_t size, amrnb_file** file);

/* Opens a stream read through `read` (called with `user`); the reader never seeks, and reads
 * ahead up to 16 KiB. A callback that returns a negative count, or more than it was asked
 * for, makes AMRNB_ERROR_READ, for this call and every later read. */
AMRNB_API amrnb_status amrnb_file_open_callback(amrnb_read_fn read, void* user, amrnb_file** file);

/* Closes a file and frees it (a path's stream included); NULL is ignored. */
AMRNB_API void amrnb_file_close(amrnb_file* file);

/* AMRNB_FILE_AMR_WAVE or AMRNB_FILE_STORAGE; 0 for NULL. */
AMRNB_API int amrnb_file_kind_of(const amrnb_file* file);

/* Copies the AMR-in-WAV header; AMRNB_ERROR_KIND for a storage file. */
AMRNB_API amrnb_status amrnb_file_wave_header(const amrnb_file* file, amrnb_wave_header* header);

/* Reads the next frame, undecoded, into `frame` (AMRNB_MAX_FRAME_BYTES long): its bytes in
 * *size and its frame type in *frame_type (either may be NULL; `frame` may not). Returns
 * AMRNB_OK for a frame, AMRNB_END_OF_STREAM after the last one (a last frame cut short is
 * dropped, and counted in dropped_tail_bytes), AMRNB_ERROR_READ. */
AMRNB_API amrnb_status amrnb_file_read_frame(amrnb_file* file, unsigned char* frame, size_t* size,
                                             int* frame_type);

/* Decodes the file's frames into up to `max_samples` samples at `pcm` and stores the count in
 * *samples: fewer than asked only at the end of the file, 0 once it is reached (status
 * AMRNB_OK). Any block size works; the samples are those of decoding every frame in order.
 * A file is read either with read_frame or with read_pcm: the other call then returns
 * AMRNB_ERROR_USAGE. Frames are decoded as amrconv's decode job decodes them (amrnb_decode,
 * storage layout), so the samples equal those of its WAV file. A failed read returns
 * AMRNB_ERROR_READ with *samples holding the samples stored before it. `pcm` may be NULL when
 * `max_samples` is 0. */
AMRNB_API amrnb_status amrnb_file_read_pcm(amrnb_file* file, short* pcm, size_t max_samples,
                                           size_t* samples);

/* The counts so far. */
AMRNB_API amrnb_status amrnb_file_get_stats(const amrnb_file* file, amrnb_file_stats* stats);

/* ---- Writing "#!AMR\n" storage files --------------------------------------------------- */

typedef struct amrnb_storage_writer amrnb_storage_writer;

/* Creates (or truncates) `path` and writes the magic. AMRNB_ERROR_OPEN, AMRNB_ERROR_WRITE. */
AMRNB_API amrnb_status amrnb_storage_writer_open_path(const char* path, amrnb_storage_writer** writer);

/* Writes through `write` (called with `user`), the magic first. */
AMRNB_API amrnb_status amrnb_storage_writer_open_callback(amrnb_write_fn write, void* user,
                                                          amrnb_storage_writer** writer);

/* Appends one storage-layout frame of `size` bytes; `size` must equal
 * amrnb_frame_bytes(frame[0], AMRNB_LAYOUT_STORAGE) (else AMRNB_ERROR_FRAME_SIZE). A callback
 * writer calls the callback once for the magic (in open) and once per frame, holding nothing
 * back; a path writer writes through stdio's buffer. After a failed write every later one
 * returns AMRNB_ERROR_WRITE. */
AMRNB_API amrnb_status amrnb_storage_writer_write(amrnb_storage_writer* writer,
                                                  const unsigned char* frame, size_t size);

/* Flushes, closes and frees; returns AMRNB_ERROR_WRITE if anything failed to reach the file
 * (AMRNB_ERROR_NULL for NULL). A callback writer's close frees it only. */
AMRNB_API amrnb_status amrnb_storage_writer_close(amrnb_storage_writer* writer);

/* ---- Converting as amrconv does --------------------------------------------------------- */

/* Result of amrnb_convert_file. */
typedef struct amrnb_convert_result {
  int exit_status;          /* amrconv's exit status for this conversion: 0, 1, 3, 6, 12, 13, 14, 16 */
  char message[256];        /* amrconv's failure messages, joined (cut to fit), without the progress
                               text (header fields, per-frame text, end-of-file and time lines);
                               "" when amrconv prints none */
  unsigned long frames;     /* frames in the destination (event type 2: frames copied) */
  unsigned long concealed;  /* frames decoded as AMRNB_OUTCOME_CONCEALED (event type 1) */
  double seconds;           /* audio seconds converted (frames * 0.02) */
} amrnb_convert_result;

/* Converts `source` (an AMR-in-WAV file) into `destination` exactly as `amrconv SOURCE
 * DESTINATION EVENT_TYPE` does: event type 1 writes the 16-bit 8 kHz mono PCM WAV file, 2 the
 * "#!AMR\n" file; the destination holds byte for byte what amrconv's would, and `result`
 * carries amrconv's exit status and messages. Returns AMRNB_OK when the conversion ran (its
 * own outcome is in result->exit_status), or AMRNB_ERROR_NULL / AMRNB_ERROR_USAGE (event type
 * not 1 or 2; nothing is touched).
 *
 * The source is read as AMR-in-WAV whatever it begins with (a "#!AMR\n" file is refused like
 * any header without tag 310), with amrconv's rules for damaged input: a last frame cut
 * short is dropped, a type 10..14 byte is a one-byte frame (decoded as bad, or copied), a
 * failed read ends the source. Exit statuses and what the destination then holds:
 *   0   the whole source converted (event type 1 also with frames lost to failed writes:
 *       each has its message, and the file holds the others under a header that counts them);
 *   1   a path longer than 259 bytes (Windows: 259 UTF-16 units): nothing is touched;
 *   3   the source cannot be opened, the destination cannot be created, is the source itself
 *       or the file standard output goes to (as amrconv refuses it), is being written by
 *       another amrconv or amrnb_convert_file (each holds a lock on its destination while it
 *       writes), is a FIFO that no program reads (event type 2), or cannot be rewound (a
 *       pipe; event type 1): no destination is created or written;
 *   12, 14  the header is short or unreadable, or its tag is not 310: no destination;
 *   13  event type 1: the provisional WAV header could not be written: the destination holds
 *       what of it was written;
 *   6   event type 2: the magic or a frame could not be written whole, or closing failed: the
 *       destination holds the bytes written up to the failure (a frame may be cut short);
 *   16  event type 1: the final WAV header could not be written (the destination keeps the
 *       provisional one and the samples), or the source has more samples than a WAV header
 *       can count (about 74.5 hours): the destination holds those that fit, under a header
 *       that counts them; also when out of memory.
 * Unlike amrconv it prints nothing and installs no signal handlers: an interrupt ends the
 * process as its handlers decide, and a file-size limit (RLIMIT_FSIZE) sends SIGXFSZ, which
 * ends a process that does not ignore it (amrconv ignores it, so that the write fails). */
AMRNB_API amrnb_status amrnb_convert_file(const char* source, const char* destination,
                                          int event_type, amrnb_convert_result* result);

#ifdef __cplusplus
}
#endif

#endif /* AMRDEC_AMRNB_FILE_H */
