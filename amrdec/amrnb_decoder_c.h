/* SPDX-License-Identifier: Apache-2.0 */
/* C interface, version 1, of the fixed-point AMR-NB speech decoder (3GPP TS 26.073 algorithm).
 *
 * One decoder decodes one stream: each frame (header byte first) becomes 160 signed 16-bit
 * samples at 8000 Hz. A decoder is one block of memory that holds everything the stream
 * needs; the library keeps no mutable global data and, except in amrnb_create, allocates
 * nothing.
 *
 *   amrnb_decoder* dec;
 *   int16_t pcm[AMRNB_FRAME_SAMPLES];
 *   amrnb_outcome outcome;
 *   if (amrnb_create(&dec) != AMRNB_OK) ...;                    (or amrnb_init, below)
 *   while (next frame)
 *     status = amrnb_decode(dec, frame, frame_size, AMRNB_LAYOUT_STORAGE, pcm, &outcome);
 *   (a frame lost in transport: amrnb_conceal(dec, pcm, &outcome))
 *   amrnb_destroy(dec);
 *
 * Caller-owned memory instead of amrnb_create: amrnb_decoder_size() bytes aligned for
 * int32_t (malloc's memory, or a variable of type amrnb_decoder_storage), handed to
 * amrnb_init, which resets it and returns the handle. The block contains no pointers, so a
 * copy made with memcpy is an independent decoder that continues the stream identically.
 *
 * Every function that can fail returns an amrnb_status and checks its arguments: NULL
 * pointers, unknown layout or reset values, too short frames and memory that was never
 * made a decoder are refused before anything is touched. "Made a decoder" is checked by a
 * 64-bit mark that amrnb_init (and amrnb_create) writes at the start of the block after its
 * size and alignment checks, and amrnb_destroy clears: every other call that takes a decoder,
 * amrnb_reset included, refuses a block without it (AMRNB_ERROR_NOT_RESET). Memory from
 * malloc or a fill pattern carries it only by a 2^-64 chance; a block that was a decoder keeps
 * it until overwritten.
 *
 * Threading: decoders are independent; any number may run at the same time on different
 * threads. One decoder must not be used by two calls at once. No call takes a lock.
 *
 * This header compiles alone as C89 or later and as C++.
 */
#ifndef AMRDEC_AMRNB_DECODER_C_H
#define AMRDEC_AMRNB_DECODER_C_H

#include <stddef.h>

/* The version of this header; amrnb_version() gives the library's. Versions with the same
 * major number are compatible in source and binary. */
#define AMRNB_VERSION_MAJOR 1
#define AMRNB_VERSION_MINOR 1
#define AMRNB_VERSION_PATCH 0
#define AMRNB_VERSION_STRING "1.1.0"

/* AMRNB_API marks the library's exported functions. Define AMRNB_STATIC when linking the
 * static library (the CMake package and amrnbdec.pc do it for a static install). */
#if defined(AMRNB_STATIC)
#define AMRNB_API
#elif defined(_WIN32) || defined(__CYGWIN__)
#if defined(AMRNB_BUILDING_LIBRARY)
#define AMRNB_API __declspec(dllexport)
#else
#define AMRNB_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) && __GNUC__ >= 4
#define AMRNB_API __attribute__((visibility("default")))
#else
#define AMRNB_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Samples per frame: 20 ms at 8000 Hz, signed 16-bit, host byte order. */
#define AMRNB_FRAME_SAMPLES 160

/* Largest frame in bytes, header byte included (12.2 kbit/s, storage layout). */
#define AMRNB_MAX_FRAME_BYTES 32

/* Upper bound of amrnb_decoder_size(), for static storage (amrnb_decoder_storage).
 *
 * Growth policy. A program keeps the bound of the header it was compiled with, and runs with
 * whatever library of the same major version it finds later. So:
 * - a library of major version 1 needs at most 4096 bytes, the bound of the first version 1
 *   header, whatever later version 1 headers say (the library checks this when it is built);
 * - the bound a header publishes never decreases within a major version;
 * - a decoder that needs more than 4096 bytes is a new major version, with a new soname.
 * The decoder block holds the stream's state alone (the per-frame scratch lives on the stack
 * of amrnb_decode and amrnb_conceal, 1.8 KB of it), 2180 bytes in this version: the
 * remaining 1916 bytes are the headroom for the state to grow in version 1. Memory sized by
 * amrnb_decoder_size() at run time never depends on the bound. */
#define AMRNB_DECODER_MAX_BYTES 4096

/* Static storage for one decoder, suitably aligned. */
typedef union amrnb_decoder_storage {
  unsigned char bytes[AMRNB_DECODER_MAX_BYTES];
  long align_long;
  double align_double;
  void* align_pointer;
} amrnb_decoder_storage;

/* A decoder: opaque; obtained from amrnb_create or amrnb_init. */
typedef struct amrnb_decoder amrnb_decoder;

/* Result of every call that can fail. amrnb_status_name() names each value. The values are
 * stable: new ones are only ever added at the end. */
typedef enum amrnb_status {
  AMRNB_OK = 0,
  AMRNB_ERROR_GENERAL = 1,   /* not returned by version 1; numbering shared with the */
  AMRNB_ERROR_BITSTREAM = 2, /* frame-level C++ entry DecodeFrame (amrnb_decoder.h) */
  AMRNB_ERROR_NULL = 3,      /* a required pointer is NULL */
  AMRNB_ERROR_LAYOUT = 4,    /* the layout is not one of AMRNB_LAYOUT_* */
  AMRNB_ERROR_RESET = 5,     /* the reset value is not one of AMRNB_RESET_* */
  AMRNB_ERROR_NOT_RESET = 6, /* the memory was never made a decoder by amrnb_init or amrnb_create */
  AMRNB_ERROR_FRAME_SIZE = 7, /* the frame is shorter than its frame type needs */
  AMRNB_ERROR_MEMORY = 8,    /* amrnb_create: out of memory; amrnb_init: block too small or
                                not aligned for int32_t */
  /* The file interface (amrnb_file.h): */
  AMRNB_END_OF_STREAM = 9,       /* not a failure: no frame or sample is left */
  AMRNB_ERROR_OPEN = 10,         /* the path cannot be opened (amrconv: status 3) */
  AMRNB_ERROR_READ = 11,         /* reading failed (an I/O error, or a read callback's error) */
  AMRNB_ERROR_SHORT_HEADER = 12, /* fewer than the 62 header bytes (amrconv: status 12) */
  AMRNB_ERROR_FORMAT_TAG = 13,   /* audio format tag not 310 (amrconv: status 14) */
  AMRNB_ERROR_KIND = 14,         /* the call does not apply to this kind of file */
  AMRNB_ERROR_USAGE = 15,        /* a call out of order or an argument out of range */
  AMRNB_ERROR_WRITE = 16         /* writing failed (amrconv: status 6) */
} amrnb_status;

/* Byte layout of the frames given to amrnb_decode.
 * AMRNB_LAYOUT_STORAGE: octet-aligned storage layout of "#!AMR\n" files and of AMR-in-WAV
 *   (RFC 4867 section 5.3): a header byte with the frame type in bits 6..3 and the quality
 *   bit in bit 2, then the speech bits, most significant bit first. A frame whose quality
 *   bit is 0 is decoded as a damaged frame and concealed.
 * AMRNB_LAYOUT_IF2: 3GPP TS 26.101 interface format 2: the frame type in the low four bits
 *   of the first byte, then the speech bits, least significant bit first.
 * Bytes read by frame type 0..8, first byte included: storage 13, 14, 16, 18, 20, 21, 27,
 * 32, 6; IF2 13, 14, 16, 18, 19, 21, 26, 31, 6. Types 9 to 15 need the first byte only:
 * 15 is "no data", and 9 to 14 carry no AMR-NB frame and are concealed as damaged frames. */
typedef enum amrnb_layout { AMRNB_LAYOUT_STORAGE = 0, AMRNB_LAYOUT_IF2 = 1 } amrnb_layout;

/* Resets of amrnb_reset.
 * AMRNB_RESET_FULL: every value back to its initial state, as for a new stream.
 * AMRNB_RESET_PARTIAL: clears only the speech history (excitation, concealment and gain
 *   memories); the decoder applies it by itself at the start of comfort noise. */
typedef enum amrnb_reset_kind { AMRNB_RESET_FULL = 0, AMRNB_RESET_PARTIAL = 8 } amrnb_reset_kind;

/* Frame types: bits 6..3 of a storage header byte, bits 3..0 of the first IF2 byte. */
typedef enum amrnb_frame_type {
  AMRNB_FT_MR475 = 0, AMRNB_FT_MR515 = 1, AMRNB_FT_MR59 = 2, AMRNB_FT_MR67 = 3,
  AMRNB_FT_MR74 = 4, AMRNB_FT_MR795 = 5, AMRNB_FT_MR102 = 6, AMRNB_FT_MR122 = 7,
  AMRNB_FT_SID = 8, AMRNB_FT_NO_DATA = 15
} amrnb_frame_type;

/* What a decoded frame turned out to be. */
typedef enum amrnb_outcome {
  AMRNB_OUTCOME_SPEECH = 0,        /* a good speech frame, decoded */
  AMRNB_OUTCOME_CONCEALED = 1,     /* damaged, lost or invalid speech frame: concealed speech */
  AMRNB_OUTCOME_COMFORT_NOISE = 2, /* a SID frame (first, update or damaged): comfort noise */
  AMRNB_OUTCOME_NO_DATA = 3,       /* no data: comfort noise goes on, or speech is concealed */
  AMRNB_OUTCOME_HOMING = 4         /* a decoder homing frame right after a reset: 160 samples of
                                      0x0008, and the decoder is reset again */
} amrnb_outcome;

/* The library's version, "MAJOR.MINOR.PATCH". */
AMRNB_API const char* amrnb_version(void);

/* A static string naming a status, its enumerator's name such as "AMRNB_ERROR_NULL", or
 * "unknown status" for any other int. It takes an int so that any value is defined to pass
 * (an amrnb_status converts to it, and every status value is passed in the same register
 * bits as the enum parameter of version 1.0 was). */
AMRNB_API const char* amrnb_status_name(int status);

/* Bytes of caller-owned memory one decoder needs (at most 4096 = AMRNB_DECODER_MAX_BYTES of
 * version 1.0; see the growth policy there). */
AMRNB_API size_t amrnb_decoder_size(void);

/* Makes `memory` (`size` bytes, aligned for int32_t) a decoder with a full reset and stores
 * its handle in *decoder. The memory stays the caller's; nothing needs releasing. */
AMRNB_API amrnb_status amrnb_init(void* memory, size_t size, amrnb_decoder** decoder);

/* Allocates a decoder with malloc and resets it; release it with amrnb_destroy. */
AMRNB_API amrnb_status amrnb_create(amrnb_decoder** decoder);

/* Frees a decoder from amrnb_create; NULL is ignored. */
AMRNB_API void amrnb_destroy(amrnb_decoder* decoder);

/* Resets a decoder: AMRNB_RESET_FULL starts the stream over; AMRNB_RESET_PARTIAL (rarely
 * needed) clears the speech history only. After a decoder homing frame the decoder resets
 * itself. Only a decoder made by amrnb_init or amrnb_create is reset: other memory is refused
 * with AMRNB_ERROR_NOT_RESET (use amrnb_init to make it a decoder). */
AMRNB_API amrnb_status amrnb_reset(amrnb_decoder* decoder, int kind);

/* Decodes one frame of `frame_size` bytes, header byte first, in the given layout, into
 * AMRNB_FRAME_SAMPLES samples at `pcm`. The frame is only read; bytes beyond what its type
 * needs are ignored. `outcome` may be NULL. On any status but AMRNB_OK nothing is written
 * and the decoder is unchanged. */
AMRNB_API amrnb_status amrnb_decode(amrnb_decoder* decoder, const unsigned char* frame,
                                    size_t frame_size, int layout, short* pcm,
                                    amrnb_outcome* outcome);

/* Produces the 160 samples of a frame lost in transport, in either layout: speech is
 * concealed from the previous frames, comfort noise goes on. `outcome` may be NULL. */
AMRNB_API amrnb_status amrnb_conceal(amrnb_decoder* decoder, short* pcm, amrnb_outcome* outcome);

/* Bytes that the frame beginning with `header_byte` occupies in a "#!AMR\n" storage file,
 * header byte included, as amrconv's AMR-in-WAV reader takes them: 13, 14, 16, 18, 20, 21,
 * 27, 32 for types 0..7, 6 for SID, 1 for no data. Type 9 counts 32 bytes, as in the
 * recordings the program reads; types 10 to 14 carry no frame and count their header byte
 * alone. Only bits 6..3 of `header_byte` matter. */
AMRNB_API int amrnb_storage_frame_bytes(unsigned header_byte);

#ifdef __cplusplus
}
#endif

#endif /* AMRDEC_AMRNB_DECODER_C_H */
