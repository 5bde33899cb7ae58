/* Decodes an AMR-NB storage file ("#!AMR\n", then the frames) to raw PCM: 16-bit
 * little-endian mono samples at 8000 Hz, 160 per frame, through amrnbdec's C interface.
 * Usage: decode_amr_file INPUT.amr OUTPUT.pcm */
#include <amrdec/amrnb_decoder_c.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  static amrnb_decoder_storage memory; /* no allocation: the decoder lives here */
  amrnb_decoder* decoder = NULL;
  unsigned char frame[AMRNB_MAX_FRAME_BYTES];
  unsigned char bytes[2 * AMRNB_FRAME_SAMPLES];
  short pcm[AMRNB_FRAME_SAMPLES];
  char magic[6];
  amrnb_status status;
  FILE* in;
  FILE* out;
  int header, i, failed = 0;

  if (argc != 3) {
    fprintf(stderr, "usage: %s INPUT.amr OUTPUT.pcm\n", argv[0]);
    return 2;
  }
  in = fopen(argv[1], "rb");
  out = fopen(argv[2], "wb");
  if (!in || !out || fread(magic, 1, 6, in) != 6 || memcmp(magic, "#!AMR\n", 6) != 0) {
    fprintf(stderr, "cannot open the files, or the input is not an AMR storage file\n");
    return 1;
  }
  status = amrnb_init(&memory, sizeof memory, &decoder);
  while (status == AMRNB_OK && (header = fgetc(in)) != EOF) {
    size_t size = (size_t)amrnb_storage_frame_bytes((unsigned)header);
    frame[0] = (unsigned char)header;
    if (fread(frame + 1, 1, size - 1, in) != size - 1) break; /* a frame cut short ends the stream */
    status = amrnb_decode(decoder, frame, size, AMRNB_LAYOUT_STORAGE, pcm, NULL);
    for (i = 0; i < AMRNB_FRAME_SAMPLES; ++i) {
      bytes[2 * i] = (unsigned char)((unsigned)pcm[i] & 0xFF);
      bytes[2 * i + 1] = (unsigned char)(((unsigned)pcm[i] >> 8) & 0xFF);
    }
    if (status == AMRNB_OK && fwrite(bytes, 1, sizeof bytes, out) != sizeof bytes) failed = 1;
  }
  if (fclose(out) != 0) failed = 1;
  fclose(in);
  if (status != AMRNB_OK) fprintf(stderr, "decoding failed: %s\n", amrnb_status_name(status));
  if (failed) fprintf(stderr, "writing failed\n");
  return status == AMRNB_OK && !failed ? 0 : 1;
}
