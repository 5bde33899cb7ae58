// LSF dequantisation (three-split and five-split predictive vector quantisers) and the
// interpolation of the LSPs into four LP coefficient sets per frame (3GPP TS 26.073 D_plsf_3,
// D_plsf_5, Int_lpc_1to3, Int_lpc_1and3, lsp_avg).
//
// Every vector here is ten int32 values holding 16-bit quantities. A product with a Q15
// factor is formed in 32 bits and shifted right by 15 without rounding.
#include "fixed_point.h"
#include "stages.h"
#include "tables/tables.h"

namespace amrnb {

namespace {

constexpr int32_t ALPHA_3 = 29491;            // 0.9 in Q15: bad-frame decay, three-split
constexpr int32_t ALPHA_5 = 31128;            // 0.95 in Q15: bad-frame decay, five-split
constexpr int32_t PRED_FAC_5 = 21299;         // 0.65 in Q15: MA prediction, five-split
constexpr int32_t LSP_AVG_OLD = 27525;        // 0.84 in Q15
constexpr int32_t LSP_AVG_NEW = 5243;         // 0.16 in Q15

// Start of row `index` of a codebook with `rows` rows (a power of two) of `width` values.
// The unpacker's field widths keep every index below the row count; the mask only makes sure
// that a damaged parameter vector can never read outside the table.
const int16_t* CodebookRow(const int16_t* table, int32_t rows, int32_t width, int32_t index) {
  return table + (index & (rows - 1)) * width;
}

}  // namespace

void D_plsf_3(DecoderState& st, int32_t mode, int32_t bfi, const int16_t* indice, int32_t* lsp1_q) {
  int32_t lsf[M];

  if (bfi == 0) {
    const int16_t* dico1 = dico1_lsf_3;
    int32_t dico1_rows = 256;
    const int16_t* dico3 = dico3_lsf_3;
    int32_t dico3_rows = 512;
    int32_t index2 = indice[1];
    if (mode == MR475 || mode == MR515) {
      // The low modes have a smaller third codebook and use only the even rows of the second.
      dico3 = mr515_3_lsf;
      dico3_rows = 128;
      index2 *= 2;
    } else if (mode == MR795) {
      dico1 = mr795_1_lsf;
      dico1_rows = 512;
    }

    int32_t r[M];
    const int16_t* p = CodebookRow(dico1, dico1_rows, 3, indice[0]);
    r[0] = p[0];
    r[1] = p[1];
    r[2] = p[2];
    p = CodebookRow(dico2_lsf_3, 512, 3, index2);
    r[3] = p[0];
    r[4] = p[1];
    r[5] = p[2];
    p = CodebookRow(dico3, dico3_rows, 4, indice[2]);
    r[6] = p[0];
    r[7] = p[1];
    r[8] = p[2];
    r[9] = p[3];

    for (int k = 0; k < M; ++k) {
      // The SID quantiser predicts with the whole previous residual, speech with pred_fac_3.
      const int32_t pred = (mode == MRDTX) ? st.past_r_q[k] : mult_q15(st.past_r_q[k], pred_fac_3[k]);
      lsf[k] = r[k] + mean_lsf_3[k] + pred;
      st.past_r_q[k] = r[k];
    }
  } else {
    // Concealment: pull the previous LSFs 10 % toward the mean (offset3 = 0.1 x mean_lsf_3),
    // and keep the residual that would have produced them so the next good frame predicts
    // from the concealed vector.
    for (int k = 0; k < M; ++k) {
      lsf[k] = mult_q15(st.past_lsf_q[k], ALPHA_3) + offset3[k];
      const int32_t pred = (mode == MRDTX) ? st.past_r_q[k] : mult_q15(st.past_r_q[k], pred_fac_3[k]);
      st.past_r_q[k] = lsf[k] - mean_lsf_3[k] - pred;
    }
  }

  Reorder_lsf(lsf);  // ordered with a minimum gap; values are only ever raised

  for (int k = 0; k < M; ++k) st.past_lsf_q[k] = lsf[k];
  Lsf_lsp(lsf, lsp1_q);
}

void D_plsf_5(DecoderState& st, int32_t bfi, const int16_t* indice, int32_t* lsp1_q, int32_t* lsp2_q) {
  int32_t lsf1[M];
  int32_t lsf2[M];

  if (bfi == 0) {
    // Each split's row holds two residuals of the first vector, then two of the second.
    const int16_t* rows[5] = {
        CodebookRow(dico1_lsf_5, 128, 4, indice[0]),
        CodebookRow(dico2_lsf_5, 256, 4, indice[1]),
        CodebookRow(dico3_lsf_5, 256, 4, indice[2] >> 1),  // bit 0 is the sign of the row
        CodebookRow(dico4_lsf_5, 256, 4, indice[3]),
        CodebookRow(dico5_lsf_5, 64, 4, indice[4]),
    };
    const int32_t sign3 = (indice[2] & 1) != 0 ? -1 : 1;

    int32_t r1[M];
    int32_t r2[M];
    for (int s = 0; s < 5; ++s) {
      const int32_t sign = (s == 2) ? sign3 : 1;
      r1[2 * s] = sign * rows[s][0];
      r1[2 * s + 1] = sign * rows[s][1];
      r2[2 * s] = sign * rows[s][2];
      r2[2 * s + 1] = sign * rows[s][3];
    }

    for (int k = 0; k < M; ++k) {
      const int32_t pred = mean_lsf_5[k] + mult_q15(st.past_r_q[k], PRED_FAC_5);
      lsf1[k] = r1[k] + pred;
      lsf2[k] = r2[k] + pred;
      st.past_r_q[k] = r2[k];
    }
  } else {
    // Concealment: both vectors are the previous LSFs pulled 5 % toward the mean
    // (offset5 = 0.05 x mean_lsf_5).
    for (int k = 0; k < M; ++k) {
      lsf1[k] = mult_q15(st.past_lsf_q[k], ALPHA_5) + offset5[k];
      lsf2[k] = lsf1[k];
      st.past_r_q[k] = lsf2[k] - mean_lsf_5[k] - mult_q15(st.past_r_q[k], PRED_FAC_5);
    }
  }

  Reorder_lsf(lsf1);
  Reorder_lsf(lsf2);
  for (int k = 0; k < M; ++k) st.past_lsf_q[k] = lsf2[k];
  Lsf_lsp(lsf1, lsp1_q);
  Lsf_lsp(lsf2, lsp2_q);
}

// Modes 0..6: one LSP vector per frame, for the fourth subframe; subframes 1..3 take
// 3/4, 1/2 and 1/4 of the previous frame's vector.
void Int_lpc_1to3(const int32_t* lsp_old, const int32_t* lsp_new, int16_t* Az) {
  int32_t lsp[M];

  Lsp_mix_quarter(lsp_old, lsp_new, lsp);
  Lsp_Az(lsp, Az);

  for (int k = 0; k < M; ++k) lsp[k] = (lsp_old[k] >> 1) + (lsp_new[k] >> 1);
  Lsp_Az(lsp, Az + M);

  Lsp_mix_quarter(lsp_new, lsp_old, lsp);
  Lsp_Az(lsp, Az + 2 * M);

  Lsp_Az(lsp_new, Az + 3 * M);
}

// Mode 7: vectors for the second and fourth subframes; the first and third are midpoints.
void Int_lpc_1and3(const int32_t* lsp_old, const int32_t* lsp_mid, const int32_t* lsp_new, int16_t* Az) {
  int32_t lsp[M];

  for (int k = 0; k < M; ++k) lsp[k] = (lsp_old[k] >> 1) + (lsp_mid[k] >> 1);
  Lsp_Az(lsp, Az);

  Lsp_Az(lsp_mid, Az + M);

  for (int k = 0; k < M; ++k) lsp[k] = (lsp_mid[k] >> 1) + (lsp_new[k] >> 1);
  Lsp_Az(lsp, Az + 2 * M);

  Lsp_Az(lsp_new, Az + 3 * M);
}

// Slow first-order smoothing of the quantized LSF vector, rounded.
void lsp_avg(DecoderState& st, const int32_t* lsp) {
  for (int k = 0; k < M; ++k) {
    const int32_t acc = add_wrap32(mul_wrap32(LSP_AVG_OLD, st.lsp_meanSave[k]), mul_wrap32(LSP_AVG_NEW, lsp[k]));
    st.lsp_meanSave[k] = add_wrap32(acc, 16384) >> 15;
  }
}

}  // namespace amrnb
