// Reader of the per-frame conformance traces (NAME.stages.txt, .params.txt, .synth.pcm) under
// tests/data/conformance, for tests that check one decoder stage in isolation.
#ifndef TESTS_STAGE_TRACE_H
#define TESTS_STAGE_TRACE_H

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace stagetrace {

struct Frame {
  std::string path;                                  // speech, cn or homing
  std::map<std::string, std::vector<int32_t>> rec;   // F (rx mode bfi state dtx), L, M, A, B, C
  std::vector<std::vector<int32_t>> S;               // per subframe: k T0 T0_frac gain_pit ...
  std::vector<int16_t> parm = std::vector<int16_t>(57);
  std::vector<int16_t> synth = std::vector<int16_t>(160);
};

// Every frame of stream `name`; empty when a file is missing or short (callers fail on that).
inline std::vector<Frame> Load(const std::string& name) {
  const std::string base = std::string(AMRCONV_TEST_DATA_DIR) + "/conformance/" + name;
  std::ifstream stages(base + ".stages.txt"), params(base + ".params.txt");
  std::ifstream synth(base + ".synth.pcm", std::ios::binary);
  std::vector<Frame> frames;
  for (std::string line; std::getline(stages, line);) {
    std::istringstream in(line);
    std::string tag;
    size_t n = 0;
    in >> tag >> n;
    if (tag == "F") frames.resize(n + 1);
    if (n >= frames.size()) return {};
    if (tag == "F") in >> frames[n].path;
    std::vector<int32_t> v;
    for (int32_t x; in >> x;) v.push_back(x);
    if (tag == "S") frames[n].S.push_back(v);
    else frames[n].rec[tag] = v;
  }
  for (Frame& f : frames) {
    int32_t ft_rx_mode[3];
    for (int32_t& x : ft_rx_mode) params >> x;
    for (int16_t& p : f.parm) params >> p;
    for (int16_t& s : f.synth) {
      uint8_t b[2] = {};
      synth.read(reinterpret_cast<char*>(b), 2);
      s = static_cast<int16_t>(b[0] | (b[1] << 8));
    }
    if (!params || !synth) return {};
  }
  return frames;
}

}  // namespace stagetrace

#endif  // TESTS_STAGE_TRACE_H
