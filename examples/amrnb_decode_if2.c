/* Decodes an IF2 stream (3GPP TS 26.101 interface format 2: the frames back to back, each
 * with its frame type in the low four bits of its first byte, no file header) to raw PCM:
 * 16-bit little-endian mono samples at 8000 Hz. A receiver learns from its transport which
 * frames were lost (RTP sequence numbers, a radio link's error flags) and asks the decoder
 * to conceal them; here a third argument N makes every Nth frame count as lost.
 * Usage: amrnb_decode_if2 INPUT OUTPUT [N]
 * The code is C89 and C++11 alike. */
#include <amrdec/amrnb_file.h> /* amrnb_frame_bytes */
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  amrnb_decoder* decoder = NULL;
  unsigned char frame[AMRNB_MAX_FRAME_BYTES];
  unsigned char bytes[2 * AMRNB_FRAME_SAMPLES];
  short pcm[AMRNB_FRAME_SAMPLES];
  amrnb_status status;
  unsigned long index, lose_every = 0;
  size_t size;
  int first, i, failed = 0;
  FILE* in;
  FILE* out;

  if (argc < 3) {
    fprintf(stderr, "usage: %s INPUT OUTPUT [N]\n", argv[0]);
    return 2;
  }
  if (argc > 3) lose_every = strtoul(argv[3], NULL, 10);
  in = fopen(argv[1], "rb");
  out = in ? fopen(argv[2], "wb") : NULL;
  if (!out) {
    perror(in ? argv[2] : argv[1]);
    return 1;
  }
  status = amrnb_create(&decoder);
  for (index = 1; status == AMRNB_OK && !failed && (first = fgetc(in)) != EOF; ++index) {
    size = (size_t)amrnb_frame_bytes((unsigned)first, AMRNB_LAYOUT_IF2);
    frame[0] = (unsigned char)first;
    if (fread(frame + 1, 1, size - 1, in) != size - 1) break; /* a frame cut short ends the stream */
    if (lose_every > 0 && index % lose_every == 0) {
      status = amrnb_conceal(decoder, pcm, NULL); /* lost: made up from the frames before */
    } else {
      status = amrnb_decode(decoder, frame, size, AMRNB_LAYOUT_IF2, pcm, NULL);
    }
    for (i = 0; i < AMRNB_FRAME_SAMPLES; ++i) {
      bytes[2 * i] = (unsigned char)((unsigned)pcm[i] & 0xFF);
      bytes[2 * i + 1] = (unsigned char)(((unsigned)pcm[i] >> 8) & 0xFF);
    }
    if (status == AMRNB_OK && fwrite(bytes, 1, sizeof bytes, out) != sizeof bytes) failed = 1;
  }
  amrnb_destroy(decoder);
  if (ferror(in)) failed = 1;
  fclose(in);
  if (fclose(out) != 0) failed = 1;
  if (status != AMRNB_OK) fprintf(stderr, "%s: %s\n", argv[1], amrnb_status_name(status));
  if (failed) fprintf(stderr, "reading %s or writing %s failed\n", argv[1], argv[2]);
  return status == AMRNB_OK && !failed ? 0 : 1;
}
