// Decodes an AMR-NB storage file ("#!AMR\n", then the frames) to raw PCM: 16-bit
// little-endian mono samples at 8000 Hz, 160 per frame, through amrnbdec's C++ interface.
// Usage: decode_amr_file_cpp INPUT.amr OUTPUT.pcm
#include <amrdec/amrnb_decoder.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " INPUT.amr OUTPUT.pcm\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<unsigned char> file(std::istreambuf_iterator<char>(in), {});
  if (file.size() < 6 || std::string(file.begin(), file.begin() + 6) != "#!AMR\n") {
    std::cerr << "cannot read " << argv[1] << ", or it is not an AMR storage file\n";
    return 1;
  }
  amrnb::Decoder decoder;
  if (!decoder) return 1;
  std::vector<unsigned char> bytes;
  int16_t pcm[amrnb::kFrameSamples];
  for (std::size_t pos = 6; pos < file.size();) {
    const auto size = static_cast<std::size_t>(amrnb_storage_frame_bytes(file[pos]));
    if (file.size() - pos < size) break;  // a frame cut short ends the stream
    const amrnb_status status = decoder.Decode(&file[pos], size, AMRNB_LAYOUT_STORAGE, pcm);
    if (status != AMRNB_OK) {
      std::cerr << "decoding failed: " << amrnb_status_name(status) << '\n';
      return 1;
    }
    for (int16_t sample : pcm) {
      bytes.push_back(static_cast<unsigned char>(static_cast<uint16_t>(sample) & 0xFF));
      bytes.push_back(static_cast<unsigned char>(static_cast<uint16_t>(sample) >> 8));
    }
    pos += size;
  }
  std::ofstream out(argv[2], std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "writing " << argv[2] << " failed\n";
    return 1;
  }
  return 0;
}
