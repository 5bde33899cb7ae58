/* Decodes an AMR-in-WAV file (audio format tag 310) or a "#!AMR\n" storage file to raw PCM:
 * 16-bit little-endian mono samples at 8000 Hz, through amrnbdec's file reader, which tells
 * the two kinds apart, splits the frames and decodes them in blocks of any size.
 * Usage: amrnb_decode_file INPUT OUTPUT
 * On failure it names the status (such as AMRNB_ERROR_FORMAT_TAG) and exits with 1.
 * The code is C89 and C++11 alike. */
#include <amrdec/amrnb_file.h>
#include <stdio.h>

#define BLOCK_SAMPLES 4000 /* samples asked for per read: any number works */

int main(int argc, char** argv) {
  static short pcm[BLOCK_SAMPLES];
  static unsigned char bytes[2 * BLOCK_SAMPLES];
  amrnb_file* file = NULL;
  amrnb_status status;
  size_t samples = 0, i;
  FILE* out;
  int write_failed = 0;

  if (argc != 3) {
    fprintf(stderr, "usage: %s INPUT OUTPUT\n", argv[0]);
    return 2;
  }
  status = amrnb_file_open_path(argv[1], &file);
  if (status != AMRNB_OK) {
    fprintf(stderr, "%s: %s\n", argv[1], amrnb_status_name(status));
    return 1;
  }
  out = fopen(argv[2], "wb");
  if (!out) {
    perror(argv[2]);
    amrnb_file_close(file);
    return 1;
  }
  /* AMRNB_OK with no samples: the end of the file. */
  while ((status = amrnb_file_read_pcm(file, pcm, BLOCK_SAMPLES, &samples)) == AMRNB_OK && samples > 0) {
    for (i = 0; i < samples; ++i) { /* little-endian whatever the host's byte order */
      bytes[2 * i] = (unsigned char)((unsigned)pcm[i] & 0xFF);
      bytes[2 * i + 1] = (unsigned char)(((unsigned)pcm[i] >> 8) & 0xFF);
    }
    if (fwrite(bytes, 2, samples, out) != samples) {
      write_failed = 1;
      break;
    }
  }
  amrnb_file_close(file);
  if (fclose(out) != 0) write_failed = 1;
  if (status != AMRNB_OK) fprintf(stderr, "%s: %s\n", argv[1], amrnb_status_name(status));
  if (write_failed) fprintf(stderr, "%s: writing failed\n", argv[2]);
  return status == AMRNB_OK && !write_failed ? 0 : 1;
}
