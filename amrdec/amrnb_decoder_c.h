/* C interface of the fixed-point AMR-NB speech decoder (3GPP TS 26.073 algorithm).
 *
 * The same decoder as amrnb_decoder.h, with plain C types. The decoder owns no memory:
 * the caller allocates a state block of amrnb_state_size() bytes per stream and a scratch
 * block of amrnb_scratch_size() bytes, resets the state block once, then decodes frame
 * after frame into 160 samples each:
 *
 *   void* state = malloc(amrnb_state_size());
 *   void* scratch = malloc(amrnb_scratch_size());
 *   int16_t pcm[AMRNB_FRAME_SAMPLES];
 *   amrnb_reset(state, 0);
 *   while (next frame in buf)
 *     amrnb_decode_frame(buf, state, scratch, pcm, AMRNB_LAYOUT_STORAGE);
 *   free(scratch); free(state);
 *
 * The decoder allocates nothing and keeps no mutable global data. Threading: one state
 * block per stream; any number of streams may be decoded in parallel on different threads,
 * each with its own state and scratch blocks. A block must never be used by two calls at
 * the same time. No call needs a lock.
 */
#ifndef AMRDEC_AMRNB_DECODER_C_H
#define AMRDEC_AMRNB_DECODER_C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Samples written per frame: 20 ms at 8000 Hz, signed 16-bit, host byte order. */
#define AMRNB_FRAME_SAMPLES 160

/* Largest frame in bytes, header byte included (12.2 kbit/s, storage layout). A frame
 * buffer of this size is always large enough. */
#define AMRNB_MAX_FRAME_BYTES 32

/* Input-layout selector of amrnb_decode_frame.
 * AMRNB_LAYOUT_STORAGE: octet-aligned storage layout of "#!AMR\n" files (RFC 4867): a
 *   header byte with the frame type in bits 6..3 and the quality bit in bit 2, then the
 *   speech bits, most significant bit first. Frame sizes by type 0..8, header included:
 *   13, 14, 16, 18, 20, 21, 27, 32, 6; type 15 (no data) is the header byte alone. A frame
 *   whose quality bit is 0 is decoded as a damaged frame and concealed.
 * AMRNB_LAYOUT_IF2: TS 26.101 interface format 2: the frame type in the low four bits of
 *   the first byte, the speech bits least significant bit first. Sizes by type 0..8:
 *   13, 14, 16, 18, 19, 21, 26, 31, 6; type 15 is one byte. Any nonzero selector means IF2.
 * Types 9 to 14 carry no AMR-NB speech: only their first byte is read, and they are
 * concealed as bad frames. */
#define AMRNB_LAYOUT_STORAGE 0
#define AMRNB_LAYOUT_IF2 1

/* Reset modes of amrnb_reset. */
#define AMRNB_RESET_FULL 0
#define AMRNB_RESET_PARTIAL 8

/* Status values of amrnb_decode_frame. The decoder has no error exit and returns
 * AMRNB_OK for every frame; the other values complete the status vocabulary. */
#define AMRNB_OK 0
#define AMRNB_ERROR_GENERAL 1
#define AMRNB_ERROR_BITSTREAM 2

/* Size in bytes of the state block: persistent memory of one stream. Any allocation
 * aligned for int32_t (malloc's, or static storage of that alignment) will do. The block
 * holds garbage until the first amrnb_reset; it contains no pointers, so a copy made with
 * memcpy decodes the rest of the stream exactly like the original. */
size_t amrnb_state_size(void);

/* Size in bytes of the scratch block: working memory of a single amrnb_decode_frame call,
 * same alignment. Nothing in it is kept between calls, so one scratch block can serve
 * several streams decoded one after another on the same thread. */
size_t amrnb_scratch_size(void);

/* Resets a state block. AMRNB_RESET_FULL (or any mode other than 8) is the full reset a
 * new stream needs before its first frame; it can also restart a stream. AMRNB_RESET_PARTIAL
 * (mode 8) is the partial reset the decoder applies by itself at the start of comfort
 * noise: it clears only the speech history. The decoder also performs a full reset by itself
 * after a decoder homing frame. */
void amrnb_reset(void* state, int32_t mode);

/* Decodes one frame into AMRNB_FRAME_SAMPLES samples at `output`.
 * `frame`: the frame's bytes, header byte first; the decoder reads the bytes its frame type
 *   implies (see the layouts above) without checking a length, and may modify them. Pass at
 *   least the frame's size; AMRNB_MAX_FRAME_BYTES is always enough.
 * `input_layout`: AMRNB_LAYOUT_STORAGE (0) or AMRNB_LAYOUT_IF2 (any other value).
 * Damaged, invalid and missing frames yield concealment or comfort noise; a decoder homing
 * frame directly after a reset yields 160 samples of 0x0008. Returns AMRNB_OK. */
int32_t amrnb_decode_frame(uint8_t* frame, void* state, void* scratch, int16_t* output,
                           int32_t input_layout);

/* Number of bytes amrnb_decode_frame reads for a frame of type `frame_type` (0..15) in the
 * given layout: the sizes listed above, 1 for types 9 to 15, 0 outside 0..15. */
int32_t amrnb_frame_bytes(int32_t frame_type, int32_t input_layout);

#ifdef __cplusplus
}
#endif

#endif /* AMRDEC_AMRNB_DECODER_C_H */
