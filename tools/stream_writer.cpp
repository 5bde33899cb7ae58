// amrstreamgen: writes an AMR-in-WAV file (62-byte header, format tag 310, storage-layout
// frames) from a text description or from a built-in generator. Output depends only on the
// options, so streams can be rebuilt byte for byte.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "amrdec/decoder_state.h"
#include "amrdec/tables/tables.h"
#include "frame_packer.h"

namespace {

using amrtools::FrameInfo;

constexpr char kUsage[] =
    "usage: amrstreamgen [options] OUTPUT.wav\n"
    "\n"
    "Writes an AMR-in-WAV file: a 62-byte RIFF header with format tag 310, then AMR-NB\n"
    "frames in the octet-aligned storage layout. The same options give the same bytes.\n"
    "\n"
    "Source of frames (one of):\n"
    "  --gen speech       plausible speech parameters (default): slowly moving LSF indices,\n"
    "                     steady pitch lag with small changes, moderate gains\n"
    "  --gen random       uniformly random parameters\n"
    "  --text FILE        one frame per line ('-' reads standard input):\n"
    "                       speech MODE [q0] P0 P1 ...   speech frame, missing params are 0;\n"
    "                                                    q0 clears the quality bit\n"
    "                       sid first|update MODE [q0] P0 .. P4\n"
    "                       homing MODE [q0]             the mode's decoder homing frame\n"
    "                       nodata | invalid FT          frame type 15 | 9..14\n"
    "                       raw HEXBYTES                 bytes as given (header first)\n"
    "                     '#' starts a comment\n"
    "\n"
    "Generator options:\n"
    "  --frames N         number of frames (default 500, i.e. 10 s)\n"
    "  --seconds S        number of frames as 50 * S (one hour: --seconds 3600)\n"
    "  --mode M           speech mode 0..7 (default 7)\n"
    "  --mode-change P    per-frame probability of switching to another mode (default 0)\n"
    "  --bad P            probability that a frame has quality bit 0 (default 0)\n"
    "  --nodata P         probability of a single no-data frame among speech (default 0)\n"
    "  --dtx P            per-frame probability of starting a DTX period: SID_FIRST, then\n"
    "                     no-data frames with a SID_UPDATE every 8th frame (default 0)\n"
    "  --seed N           random seed (default 1)\n"
    "  -h, --help         this text\n"
    "\n"
    "Probabilities are numbers from 0 to 1.\n";

// SplitMix64: tiny, portable and fully specified, so streams are reproducible everywhere.
class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed) {}
  uint64_t Next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int32_t Below(int32_t n) { return n <= 1 ? 0 : static_cast<int32_t>(Next() % static_cast<uint64_t>(n)); }
  bool Chance(double p) { return p > 0 && static_cast<double>(Next() >> 11) * 0x1.0p-53 < p; }

 private:
  uint64_t s_;
};

struct Options {
  std::string gen = "speech";
  std::string text;
  std::string out;
  int64_t frames = 500;
  int32_t mode = 7;
  double mode_change = 0, bad = 0, nodata = 0, dtx = 0;
  uint64_t seed = 1;
};

// What a parameter of a speech mode stands for; the generator shapes each kind differently.
enum class Role { kLsf, kLagAbs, kLagRel, kGain, kOther };

Role RoleOf(int32_t mode, int32_t i) {
  const int32_t lsf_count = mode == 7 ? 5 : 3;
  if (i < lsf_count) return Role::kLsf;
  int32_t offset;  // position inside the subframe group
  if (mode == 0) {
    // Groups of 4, 3, 4 and 3 entries; the joint gain index closes groups 1 and 3.
    static constexpr int8_t kOffset475[17] = {0, 0, 0, 0, 1, 2, 3, 0, 1, 2, 0, 1, 2, 3, 0, 1, 2};
    offset = kOffset475[i];
  } else {
    static constexpr int8_t kGroup[8] = {0, 4, 4, 4, 4, 5, 9, 13};
    offset = (i - lsf_count) % kGroup[mode];
  }
  if (offset == 0) return amrtools::ParamBits(mode, i) >= 8 ? Role::kLagAbs : Role::kLagRel;
  const bool gain = (mode == 0 && offset == 3) || (mode >= 1 && mode <= 4 && offset == 3) ||
                    (mode == 5 && offset >= 3) || (mode == 6 && offset == 8) ||
                    (mode == 7 && (offset == 1 || offset == 12));
  return gain ? Role::kGain : Role::kOther;
}

int16_t Clamp(int32_t v, int32_t bits) {
  const int32_t top = (1 << bits) - 1;
  return static_cast<int16_t>(v < 0 ? 0 : (v > top ? top : v));
}

// Slowly varying parameter tracks shared by the frames of a "speech" stream. They are kept as
// fractions of each parameter's range, so a mode change keeps the character of the signal.
class SpeechModel {
 public:
  explicit SpeechModel(Rng& rng) : rng_(rng) {
    for (double& v : lsf_) v = rng_.Below(1000) / 1000.0;
    lag_ = 0.4;
    gain_ = 0.55;
  }

  void Fill(int32_t mode, bool random, int16_t* parm) {
    Advance();
    const int32_t n = amrtools::ParamCount(mode);
    int32_t lsf_i = 0;
    for (int32_t i = 0; i < n; ++i) {
      const int32_t bits = amrtools::ParamBits(mode, i);
      const int32_t range = 1 << bits;
      if (random) {
        parm[i] = static_cast<int16_t>(rng_.Below(range));
        continue;
      }
      switch (RoleOf(mode, i)) {
        case Role::kLsf: parm[i] = Clamp(static_cast<int32_t>(lsf_[lsf_i++] * range), bits); break;
        case Role::kLagAbs: parm[i] = Clamp(static_cast<int32_t>(lag_ * range) + rng_.Below(3) - 1, bits); break;
        case Role::kLagRel: parm[i] = Clamp(range / 2 + rng_.Below(3) - 1, bits); break;
        case Role::kGain: parm[i] = Clamp(static_cast<int32_t>(gain_ * range) + rng_.Below(5) - 2, bits); break;
        case Role::kOther: parm[i] = static_cast<int16_t>(rng_.Below(range)); break;
      }
    }
  }

  // SID parameters: reference vector, three LSF indices from the current spectrum, energy.
  void FillSid(int16_t* parm) {
    parm[0] = static_cast<int16_t>(rng_.Below(8));
    for (int i = 1; i < 4; ++i) parm[i] = Clamp(static_cast<int32_t>(lsf_[i - 1] * (i == 1 ? 256 : 512)), i == 1 ? 8 : 9);
    parm[4] = static_cast<int16_t>(16 + rng_.Below(24));
  }

 private:
  void Advance() {
    for (double& v : lsf_) v = Walk(v, 0.01, 0.05, 0.95);
    lag_ = Walk(lag_, 0.005, 0.15, 0.85);
    gain_ = Walk(gain_, 0.02, 0.4, 0.7);
  }
  double Walk(double v, double step, double lo, double hi) {
    v += (rng_.Below(2001) - 1000) / 1000.0 * step;
    return v < lo ? lo : (v > hi ? hi : v);
  }

  Rng& rng_;
  double lsf_[5];
  double lag_, gain_;
};

void PutLe(std::vector<uint8_t>& b, std::size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The 62-byte AMR-in-WAV header: RIFF, a 22-byte format chunk with tag 310, a fact chunk
// holding the sample count, and the data chunk header.
std::vector<uint8_t> WaveHeader(uint32_t data_bytes, uint32_t frames) {
  std::vector<uint8_t> h(62, 0);
  std::memcpy(&h[0], "RIFF", 4);
  PutLe(h, 4, 54 + data_bytes, 4);
  std::memcpy(&h[8], "WAVEfmt ", 8);
  PutLe(h, 16, 22, 4);
  PutLe(h, 20, 310, 2);   // format tag
  PutLe(h, 22, 1, 2);     // channels
  PutLe(h, 24, 8000, 4);  // sampling rate
  PutLe(h, 28, frames ? data_bytes * 50 / frames : 0, 4);  // average bytes per second
  PutLe(h, 32, 32, 2);    // block alignment: largest frame
  PutLe(h, 34, 0, 2);     // bits per sample
  PutLe(h, 36, 2, 2);     // extra format bytes
  std::memcpy(&h[42], "fact", 4);
  PutLe(h, 46, 4, 4);
  PutLe(h, 50, frames * 160, 4);
  std::memcpy(&h[54], "data", 4);
  PutLe(h, 58, data_bytes, 4);
  return h;
}

void Append(std::vector<uint8_t>& out, const FrameInfo& info, const int16_t* parm) {
  const std::vector<uint8_t> f = amrtools::PackFrame(amrtools::Layout::kStorage, info, parm);
  out.insert(out.end(), f.begin(), f.end());
}

void Generate(const Options& o, std::vector<uint8_t>& out, uint32_t& frames) {
  Rng rng(o.seed);
  SpeechModel model(rng);
  const bool random = o.gen == "random";
  int32_t mode = o.mode;
  int32_t dtx_left = 0, since_sid = 0;
  int16_t parm[amrnb::MAX_PRM];
  for (int64_t n = 0; n < o.frames; ++n, ++frames) {
    std::fill_n(parm, amrnb::MAX_PRM, int16_t{0});
    FrameInfo info;
    info.quality = rng.Chance(o.bad) ? 0 : 1;
    if (dtx_left > 0) {  // inside a DTX period: no data, a SID update every 8th frame
      --dtx_left;
      if (++since_sid == 8) {
        since_sid = 0;
        info.frame_type = 8;
        info.sti = 1;
        info.sid_mode = mode;
        model.FillSid(parm);
      } else {
        info.frame_type = 15;
      }
    } else if (rng.Chance(o.dtx)) {
      dtx_left = 2 + rng.Below(40);
      since_sid = 0;
      info.frame_type = 8;
      info.sti = 0;
      info.sid_mode = mode;
      model.FillSid(parm);
    } else if (rng.Chance(o.nodata)) {
      info.frame_type = 15;
    } else {
      if (rng.Chance(o.mode_change)) mode = (mode + 1 + rng.Below(7)) % 8;
      info.frame_type = mode;
      model.Fill(mode, random, parm);
    }
    Append(out, info, parm);
  }
}

bool ParseText(std::istream& in, std::vector<uint8_t>& out, uint32_t& frames) {
  std::string line;
  int line_no = 0;
  while (std::getline(in, line)) {
    ++line_no;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream ls(line);
    std::string kind;
    if (!(ls >> kind)) continue;
    FrameInfo info;
    int16_t parm[amrnb::MAX_PRM] = {};
    std::string word;
    auto fail = [&](const char* why) {
      std::fprintf(stderr, "line %d: %s\n", line_no, why);
      return false;
    };
    auto read_mode = [&](int32_t& m) { return static_cast<bool>(ls >> m) && m >= 0 && m <= 7; };
    auto read_quality_and_params = [&](int32_t count) {
      int32_t i = 0;
      while (ls >> word) {
        if (word == "q0") { info.quality = 0; continue; }
        if (i >= count) return false;
        parm[i++] = static_cast<int16_t>(std::strtol(word.c_str(), nullptr, 0));
      }
      return true;
    };
    if (kind == "speech") {
      if (!read_mode(info.frame_type)) return fail("speech needs a mode 0..7");
      if (!read_quality_and_params(amrtools::ParamCount(info.frame_type))) return fail("too many parameters");
    } else if (kind == "sid") {
      std::string sti;
      ls >> sti;
      if (sti != "first" && sti != "update") return fail("sid needs 'first' or 'update'");
      info.frame_type = 8;
      info.sti = sti == "update";
      if (!read_mode(info.sid_mode)) return fail("sid needs a mode 0..7");
      if (!read_quality_and_params(5)) return fail("too many parameters");
    } else if (kind == "homing") {
      if (!read_mode(info.frame_type)) return fail("homing needs a mode 0..7");
      const amrnb::ModeTable& dhf = amrnb::dhf_by_mode[info.frame_type];
      std::copy_n(dhf.values, dhf.count, parm);
      if (!read_quality_and_params(0)) return fail("unexpected words after homing");
    } else if (kind == "nodata") {
      info.frame_type = 15;
    } else if (kind == "invalid") {
      if (!(ls >> info.frame_type) || info.frame_type < 9 || info.frame_type > 14) return fail("invalid needs 9..14");
    } else if (kind == "raw") {
      std::string hex;
      while (ls >> word) hex += word;
      if (hex.empty() || hex.size() % 2) return fail("raw needs whole bytes in hex");
      for (std::size_t i = 0; i < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
      }
      ++frames;
      continue;
    } else {
      return fail("unknown frame kind");
    }
    Append(out, info, parm);
    ++frames;
  }
  return true;
}

bool ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (a.rfind("--", 0) == 0) {
      if (i + 1 >= argc) return false;
      const char* v = argv[++i];
      if (a == "--gen") o.gen = v;
      else if (a == "--text") o.text = v;
      else if (a == "--frames") o.frames = std::atoll(v);
      else if (a == "--seconds") o.frames = static_cast<int64_t>(std::atof(v) * 50);
      else if (a == "--mode") o.mode = std::atoi(v);
      else if (a == "--mode-change") o.mode_change = std::atof(v);
      else if (a == "--bad") o.bad = std::atof(v);
      else if (a == "--nodata") o.nodata = std::atof(v);
      else if (a == "--dtx") o.dtx = std::atof(v);
      else if (a == "--seed") o.seed = std::strtoull(v, nullptr, 0);
      else return false;
    } else if (o.out.empty()) {
      o.out = a;
    } else {
      return false;
    }
  }
  return !o.out.empty() && o.mode >= 0 && o.mode <= 7 && o.frames >= 0 &&
         (o.gen == "speech" || o.gen == "random");
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::vector<uint8_t> data;
  uint32_t frames = 0;
  if (!o.text.empty()) {
    std::ifstream file;
    if (o.text != "-") {
      file.open(o.text);
      if (!file) {
        std::fprintf(stderr, "cannot read %s\n", o.text.c_str());
        return 1;
      }
    }
    if (!ParseText(o.text == "-" ? std::cin : file, data, frames)) return 1;
  } else {
    Generate(o, data, frames);
  }
  const std::vector<uint8_t> header = WaveHeader(static_cast<uint32_t>(data.size()), frames);
  std::FILE* f = std::fopen(o.out.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "cannot write %s\n", o.out.c_str());
    return 1;
  }
  const bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size() &&
                  std::fwrite(data.data(), 1, data.size(), f) == data.size();
  if (std::fclose(f) != 0 || !ok) {
    std::fprintf(stderr, "write to %s failed\n", o.out.c_str());
    return 1;
  }
  return 0;
}
