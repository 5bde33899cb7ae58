// Background-noise detection on the synthesised speech and excitation energy control in
// background noise (3GPP TS 26.073 Bgn_scd and Ex_ctrl).
#include <algorithm>
#include <cstdint>

#include "fixed_point.h"
#include "stages.h"
#include "vector_kernels.h"

namespace amrnb {

namespace {

constexpr int32_t L_ENERGYHIST = 60;         // frames of energy history
constexpr int32_t LOWERNOISELIMIT = 20;      // below this a frame is silence, not noise
constexpr int32_t FRAMEENERGYLIMIT = 17578;  // above this a frame is too loud to be noise
constexpr int32_t UPPERNOISELIMIT = 1953;    // recent history quieter than this is noise-like
constexpr int32_t NOISE_FLOOR_FACTOR = 16;   // noise floor = 16 x the smallest recent energy
constexpr int16_t BG_HANGOVER_MAX = 30;
constexpr int32_t LTP_LIMIT_LOW = 13926;     // 0.85 in Q14
constexpr int32_t LTP_LIMIT_MID = 15565;     // 0.95 in Q14
constexpr int32_t LTP_LIMIT_HIGH = 16383;    // 1.0 in Q14
constexpr int32_t VOICED_HANGOVER_MAX = 10;

constexpr int32_t EXC_ENERGY_LOWER = 5;      // do not amplify (nearly) silent subframes
constexpr int32_t SCALE_LIMIT_CAREFUL = 3072;  // 3.0 in Q10

}  // namespace

int32_t Bgn_scd(DecoderState& st, const int16_t* speech, const int32_t* ltpGainHist,
                int32_t* voicedHangover) {
  // Frame energy: the exact sum of squares (up to 160 x 2^30) scaled by 2^-13, limited to 16 bits.
  const uint64_t s = kernels::SumSquares(speech, L_FRAME);
  const int32_t currEnergy = (s >= 0x0FFFFFFF) ? MAX_16 : static_cast<int32_t>(s >> 13);

  int32_t frameEnergyMin = MAX_16;
  for (int i = 0; i < L_ENERGYHIST; ++i) {
    if (st.frameEnergyHist[i] < frameEnergyMin) frameEnergyMin = st.frameEnergyHist[i];
  }
  const int32_t noiseFloor = NOISE_FLOOR_FACTOR * frameEnergyMin;

  // Largest energy of the history without its last four frames, and of its last third.
  int32_t maxEnergy = st.frameEnergyHist[0];
  for (int i = 1; i < L_ENERGYHIST - 4; ++i) {
    if (st.frameEnergyHist[i] > maxEnergy) maxEnergy = st.frameEnergyHist[i];
  }
  int32_t maxEnergyLastPart = st.frameEnergyHist[2 * L_ENERGYHIST / 3];
  for (int i = 2 * L_ENERGYHIST / 3 + 1; i < L_ENERGYHIST; ++i) {
    if (st.frameEnergyHist[i] > maxEnergyLastPart) maxEnergyLastPart = st.frameEnergyHist[i];
  }

  // A frame is noise-like when it is neither silent nor loud, something louder was heard
  // before, and it is near the noise floor or the recent past was quiet throughout.
  if (maxEnergy > LOWERNOISELIMIT && currEnergy < FRAMEENERGYLIMIT && currEnergy > LOWERNOISELIMIT &&
      (currEnergy < noiseFloor || maxEnergyLastPart < UPPERNOISELIMIT)) {
    if (st.bgHangover < BG_HANGOVER_MAX) st.bgHangover = static_cast<int16_t>(st.bgHangover + 1);
  } else {
    st.bgHangover = 0;
  }
  const int32_t inbgNoise = (st.bgHangover > 1) ? 1 : 0;

  PushHistory(st.frameEnergyHist, currEnergy);

  // The longer the noise has lasted, the stronger the pitch gain needed to call a frame voiced.
  int32_t ltpLimit = LTP_LIMIT_LOW;
  if (st.bgHangover > 8) ltpLimit = LTP_LIMIT_MID;
  if (st.bgHangover > 15) ltpLimit = LTP_LIMIT_HIGH;

  // Long noise: judge on all nine pitch gains (about two frames), otherwise on the last five.
  int32_t prevVoiced = (MedianOf(&ltpGainHist[4], 5) > ltpLimit) ? 1 : 0;
  if (st.bgHangover > 20) prevVoiced = (MedianOf(ltpGainHist, 9) > ltpLimit) ? 1 : 0;

  if (prevVoiced != 0) {
    *voicedHangover = 0;
  } else if (*voicedHangover < VOICED_HANGOVER_MAX) {
    *voicedHangover = *voicedHangover + 1;
  } else {
    *voicedHangover = VOICED_HANGOVER_MAX;
  }
  return inbgNoise;
}

int32_t Ex_ctrl(int16_t* excitation, int32_t excEnergy, const int32_t* exEnergyHist,
                int32_t voicedHangover, int32_t prevBFI, int32_t carefulFlag) {
  int32_t avgEnergy = MedianOf(exEnergyHist, 9);

  int32_t prevEnergy = (exEnergyHist[7] + exEnergyHist[8]) >> 1;
  if (exEnergyHist[8] < prevEnergy) prevEnergy = exEnergyHist[8];

  // Only a subframe that dropped below the recent median (and is not silent) is raised.
  if (!(excEnergy < avgEnergy && excEnergy > EXC_ENERGY_LOWER)) return 0;

  // Never beyond four times the last energy, three times right after a bad frame or when
  // voicing ended only recently.
  int32_t testEnergy = 4 * prevEnergy;
  if (voicedHangover < 7 || prevBFI != 0) testEnergy = 3 * prevEnergy;
  if (avgEnergy > testEnergy) avgEnergy = testEnergy;

  // Scale factor avgEnergy / excEnergy in Q10.
  const int32_t e = norm_s(excEnergy);
  const int32_t inv = div_s(16383, excEnergy << e);
  int32_t scale_Q10 = (2 * avgEnergy * inv) >> (20 - e);
  scale_Q10 = std::min(scale_Q10, MAX_16);
  if (carefulFlag != 0 && scale_Q10 > SCALE_LIMIT_CAREFUL) scale_Q10 = SCALE_LIMIT_CAREFUL;

  for (int i = 0; i < L_SUBFR; ++i) excitation[i] = wrap16((excitation[i] * scale_Q10) >> 10);
  return 0;
}

}  // namespace amrnb
