/* Decodes an AMR-NB storage file ("#!AMR\n", then the frames) to raw PCM: 16-bit
 * little-endian mono samples at 8000 Hz, 160 per frame, through amrnbdec's C interface.
 * Usage: decode_amr_file INPUT.amr OUTPUT.pcm */
#include <amrdec/amrnb_decoder_c.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Frame bytes by frame type, header byte included, as amrconv's AMR-in-WAV reader takes
 * them: type 9 occupies 32 bytes and types 10 to 14 their header byte alone. */
static const unsigned char kFrameBytes[16] = {13, 14, 16, 18, 20, 21, 27, 32,
                                              6,  32, 1,  1,  1,  1,  1,  1};

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s INPUT.amr OUTPUT.pcm\n", argv[0]);
    return 2;
  }
  FILE* in = fopen(argv[1], "rb");
  FILE* out = fopen(argv[2], "wb");
  char magic[6];
  void* state = malloc(amrnb_state_size());
  void* scratch = malloc(amrnb_scratch_size());
  if (!in || !out || !state || !scratch || fread(magic, 1, 6, in) != 6 ||
      memcmp(magic, "#!AMR\n", 6) != 0) {
    fprintf(stderr, "cannot open the files, or the input is not an AMR storage file\n");
    return 1;
  }
  amrnb_reset(state, AMRNB_RESET_FULL);
  uint8_t frame[AMRNB_MAX_FRAME_BYTES] = {0};
  int status = 0, header;
  while (status == 0 && (header = fgetc(in)) != EOF) {
    frame[0] = (uint8_t)header;
    size_t rest = kFrameBytes[(frame[0] >> 3) & 15] - 1u;
    if (fread(frame + 1, 1, rest, in) != rest) break; /* a frame cut short ends the stream */
    int16_t pcm[AMRNB_FRAME_SAMPLES];
    uint8_t bytes[2 * AMRNB_FRAME_SAMPLES];
    status = amrnb_decode_frame(frame, state, scratch, pcm, AMRNB_LAYOUT_STORAGE);
    for (int i = 0; i < AMRNB_FRAME_SAMPLES; ++i) {
      bytes[2 * i] = (uint8_t)((uint16_t)pcm[i] & 0xFF);
      bytes[2 * i + 1] = (uint8_t)((uint16_t)pcm[i] >> 8);
    }
    if (status == 0 && fwrite(bytes, 1, sizeof bytes, out) != sizeof bytes) status = 1;
  }
  if (fclose(out) != 0) status = 1;
  fclose(in);
  free(scratch);
  free(state);
  if (status != 0) fprintf(stderr, "decoding or writing failed\n");
  return status == 0 ? 0 : 1;
}
