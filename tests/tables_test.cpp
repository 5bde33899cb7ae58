// Checks the generated decoder tables: sizes, the values the 3GPP TS 26.073 tables are known
// by, and the consistency the decoder relies on (bit orders against bit sizes, homing frames
// against field widths, the phase-arranged interpolation table against its filter).
#include "amrdec/decoder_state.h"
#include "amrdec/tables/tables.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <iterator>
#include <ostream>
#include <vector>

namespace amrnb {

// Found by argument-dependent lookup from the vector comparisons and gtest's printer.
bool operator==(const BitPair& a, const BitPair& b) { return a.index == b.index && a.weight == b.weight; }
void PrintTo(const BitPair& p, std::ostream* os) { *os << "(" << p.index << ", " << p.weight << ")"; }

namespace {

using V = std::vector<int>;

template <std::size_t N>
V Head(const int16_t (&t)[N], std::size_t n) { return V(t, t + n); }
template <std::size_t N>
V Tail(const int16_t (&t)[N], std::size_t n) { return V(t + N - n, t + N); }
V Row(const int16_t* t, int row, int width) { return V(t + row * width, t + (row + 1) * width); }

struct Codebook {
  const char* name;
  const int16_t* values;
  std::size_t size, rows, width;
  V first_row;
};

TEST(Tables, LsfCodebookShapesAndFirstRows) {
  const Codebook books[] = {
      {"dico1_lsf_3", dico1_lsf_3, std::size(dico1_lsf_3), 256, 3, {6, 82, -131}},
      {"mr795_1_lsf", mr795_1_lsf, std::size(mr795_1_lsf), 512, 3, {-890, -1550, -2541}},
      {"dico2_lsf_3", dico2_lsf_3, std::size(dico2_lsf_3), 512, 3, {50, 71, -9}},
      {"dico3_lsf_3", dico3_lsf_3, std::size(dico3_lsf_3), 512, 4, {67, -17, 66, -12}},
      {"mr515_3_lsf", mr515_3_lsf, std::size(mr515_3_lsf), 128, 4, {419, 163, -30, -262}},
      {"dico1_lsf_5", dico1_lsf_5, std::size(dico1_lsf_5), 128, 4, {-451, -1065, -529, -1305}},
      {"dico2_lsf_5", dico2_lsf_5, std::size(dico2_lsf_5), 256, 4, {-1631, -1600, -1796, -2290}},
      {"dico3_lsf_5", dico3_lsf_5, std::size(dico3_lsf_5), 256, 4, {-1812, -2275, -1879, -2537}},
      {"dico4_lsf_5", dico4_lsf_5, std::size(dico4_lsf_5), 256, 4, {-1857, -1681, -1857, -1755}},
      {"dico5_lsf_5", dico5_lsf_5, std::size(dico5_lsf_5), 64, 4, {-1002, -929, -1096, -1203}},
  };
  for (const Codebook& b : books) {
    EXPECT_EQ(b.size, b.rows * b.width) << b.name;
    EXPECT_EQ(Row(b.values, 0, static_cast<int>(b.width)), b.first_row) << b.name;
  }
  // Bad-frame offsets are the means scaled by 0.1 and 0.05.
  for (int k = 0; k < 10; ++k) {
    EXPECT_EQ(offset3[k], (mean_lsf_3[k] * 3277) >> 15) << k;
    EXPECT_EQ(offset5[k], (mean_lsf_5[k] * 1639) >> 15) << k;
  }
  EXPECT_EQ(Head(mean_lsf_5, 3), (V{1384, 2077, 3420}));
}

TEST(Tables, GainTablesFirstAndLastRows) {
  ASSERT_EQ(std::size(table_gain_highrates), 128u * 4);
  ASSERT_EQ(std::size(table_gain_lowrates), 64u * 4);
  ASSERT_EQ(std::size(table_gain_MR475), 256u * 4);
  ASSERT_EQ(std::size(qua_gain_code), 32u * 3);
  EXPECT_EQ(Row(table_gain_highrates, 0, 4), (V{577, 662, -2692, -16214}));
  EXPECT_EQ(Row(table_gain_highrates, 127, 4), (V{18842, 32764, 3072, 18494}));
  EXPECT_EQ(Row(table_gain_lowrates, 63, 4), (V{1474, 778, -2454, -14774}));
  EXPECT_EQ(Row(table_gain_MR475, 255, 4), (V{13044, 19373, 10526, 23124}));
  EXPECT_EQ(Row(qua_gain_code, 31, 3), (V{27485, 3836, 23097}));
  EXPECT_EQ(std::size(qua_gain_pitch), 16u);
  EXPECT_EQ(Tail(qua_gain_pitch, 2), (V{18842, 19661}));
  EXPECT_EQ(Head(pdown, 7), (V{32767, 32112, 32112, 26214, 9830, 6553, 6553}));
  EXPECT_EQ(Head(cdown, 7), (V{32767, 32112, 32112, 32112, 32112, 32112, 22937}));
  EXPECT_EQ(Head(ph_imp_low_MR795, 2), (V{26777, 801}));
  EXPECT_EQ(Head(ph_imp_mid_MR795, 40), Head(ph_imp_mid, 40));
}

TEST(Tables, InterpolationPhaseTable) {
  EXPECT_EQ(inter_6[60], 0);
  ASSERT_EQ(std::size(inter_6_phase), 120u);
  EXPECT_EQ(Row(inter_6_phase, 0, 20), (V{34, -120, 308, -634, 1099, -1666, 2259, -2783, 3143, 29443,
                                          3143, -2783, 2259, -1666, 1099, -634, 308, -120, 34, 0}));
  for (int f = 1; f < 6; ++f) {  // phases f and 6 - f mirror about the gap between taps 9 and 10
    for (int m = 0; m < 20; ++m) EXPECT_EQ(inter_6_phase[20 * f + m], inter_6_phase[20 * (6 - f) + 19 - m]) << f;
  }
}

TEST(Tables, WindowAndArithmeticTableEnds) {
  ASSERT_EQ(std::size(window_200_40), 240u);
  EXPECT_EQ(window_200_40[200], 32767);
  EXPECT_EQ(Tail(window_200_40, 5), (V{6114, 4838, 3554, 2264, 971}));

  EXPECT_EQ(Tail(lsp_cos_tbl, 4), (V{-32413, -32610, -32729, -32768}));
  ASSERT_EQ(std::size(lsp_slope_tbl), 64u);
  EXPECT_EQ(lsp_slope_tbl[0], -26887);  // from the unclamped 32768, not 32767
  for (int k = 0; k < 64; ++k) EXPECT_EQ(lsp_slope_tbl[k], lsp_slope_tbl[63 - k]) << k;
  EXPECT_EQ(log2_tbl[16], 19167);  // stored value, one below round(32768 log2(1.5))
  EXPECT_EQ(Tail(log2_tbl, 2), (V{32023, 32767}));
  EXPECT_EQ(Tail(pow2_tbl, 2), (V{32066, 32767}));
  EXPECT_EQ(Tail(inv_sqrt_tbl, 2), (V{16514, 16384}));
  EXPECT_EQ(Tail(sqrt_l_tbl, 2), (V{32511, 32767}));
}

// Unpacks an all-ones payload: every parameter must come out as 2^bits - 1, and no bit may be
// delivered twice.
TEST(Tables, BitOrdersCoverEveryParameterBitOnce) {
  const int payload_bits[kNumModes] = {95, 103, 118, 134, 148, 159, 204, 244, 35};
  for (int m = 0; m < kNumModes; ++m) {
    SCOPED_TRACE(m);
    const BitOrderTable& order = bitorder_by_mode[m];
    const ModeTable& bits = bitno_by_mode[m];
    ASSERT_EQ(order.count, payload_bits[m]);
    ASSERT_EQ(bits.count, prmno[m]);
    int prm[MAX_PRM] = {};
    int total = 0;
    for (int i = 0; i < bits.count; ++i) total += bits.values[i];
    EXPECT_EQ(total, order.count);
    for (int k = 0; k < order.count; ++k) {
      const BitPair p = order.bits[k];
      ASSERT_TRUE(p.index >= 0 && p.index < prmno[m]) << "bit " << k;
      ASSERT_TRUE(p.weight > 0 && (p.weight & (p.weight - 1)) == 0) << "bit " << k;
      EXPECT_EQ(prm[p.index] & p.weight, 0) << "bit " << k << " repeats a parameter bit";
      prm[p.index] |= p.weight;
    }
    for (int i = 0; i < prmno[m]; ++i) EXPECT_EQ(prm[i], (1 << bits.values[i]) - 1) << "parameter " << i;
  }
}

std::vector<BitPair> Pairs(const BitPair* t, int from, int n) { return {t + from, t + from + n}; }

TEST(Tables, BitOrderTellingRows) {
  // MR475 and MR74 begin in natural order d(0), d(1), ...: parameters in turn, MSB first.
  for (int m : {0, 4}) {  // MR475, MR74
    std::vector<BitPair> natural;
    for (int i = 0; natural.size() < 16; ++i) {
      for (int b = bitno_by_mode[m].values[i] - 1; b >= 0; --b) {
        natural.push_back({static_cast<int16_t>(i), static_cast<int16_t>(1 << b)});
      }
    }
    natural.resize(16);
    EXPECT_EQ(Pairs(bitorder_by_mode[m].bits, 0, 16), natural) << m;
  }
  EXPECT_EQ(bitorder_MR475[8], (BitPair{1, 128}));
  EXPECT_EQ(Pairs(bitorder_MR122, 0, 8),
            (std::vector<BitPair>{{0, 64}, {0, 32}, {0, 16}, {0, 8}, {0, 4}, {0, 2}, {0, 1}, {1, 128}}));
  const std::vector<BitPair> lsb_first{{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {0, 32},
                                       {0, 64}, {0, 128}, {1, 1}, {1, 2}};
  EXPECT_EQ(Pairs(bitorder_MR515, 0, 10), lsb_first);
  EXPECT_EQ(Pairs(bitorder_MR795, 0, 12),
            (std::vector<BitPair>{{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {0, 32}, {0, 64}, {1, 8},
                                  {1, 2}, {1, 256}, {1, 128}, {1, 32}}));
  EXPECT_EQ(Pairs(bitorder_MR59, 0, 12),
            (std::vector<BitPair>{{0, 128}, {0, 64}, {0, 8}, {0, 4}, {0, 16}, {0, 2}, {0, 1}, {0, 32},
                                  {1, 8}, {1, 2}, {1, 256}, {1, 128}}));
  EXPECT_EQ(Pairs(bitorder_MRDTX, 0, 5), (std::vector<BitPair>{{0, 4}, {0, 2}, {0, 1}, {1, 128}, {1, 64}}));
  EXPECT_EQ(Pairs(bitorder_MRDTX, 32, 3), (std::vector<BitPair>{{4, 4}, {4, 2}, {4, 1}}));
}

// A homing frame must be a frame the unpacker can deliver: one value per parameter, each within
// its field width.
TEST(Tables, HomingFramesFitTheirFields) {
  for (int m = 0; m < 8; ++m) {
    SCOPED_TRACE(m);
    ASSERT_EQ(dhf_by_mode[m].count, prmno[m]);
    EXPECT_LT(prmnofsf[m], prmno[m]);
    for (int i = 0; i < prmno[m]; ++i) {
      EXPECT_GE(dhf_by_mode[m].values[i], 0) << i;
      EXPECT_LT(dhf_by_mode[m].values[i], 1 << bitno_by_mode[m].values[i]) << i;
    }
  }
}

TEST(Tables, ComfortNoiseAndPostFilterVectors) {
  EXPECT_EQ(Head(dtx_log_en_adjust, 9), (V{-1023, -878, -732, -586, -440, -294, -148, 0, 0}));
  EXPECT_EQ(Tail(lsf_hist_mean_scale, 3), (V{8192, 0, 0}));
  ASSERT_EQ(std::size(past_rq_init), 80u);
  EXPECT_EQ(Row(past_rq_init, 0, 10).front(), -258);
  EXPECT_EQ(Row(past_rq_init, 7, 10).back(), 515);
  EXPECT_EQ(Head(gamma4, 10), Head(gamma3_MR122, 10));  // both are the 0.7 weights
  EXPECT_EQ(Tail(gamma4_MR122, 2), (V{2461, 1846}));
  EXPECT_EQ(Head(startPos, 16), (V{0, 2, 0, 3, 0, 2, 0, 3, 1, 3, 2, 4, 1, 4, 1, 4}));
  const uint8_t bad[8] = {0, 0, 1, 1, 0, 0, 0, 1};
  for (int t = 0; t < 8; ++t) EXPECT_EQ(rx_type_bad[t], bad[t]) << t;
}

}  // namespace
}  // namespace amrnb
