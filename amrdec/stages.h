// Internal declarations of every decoder stage routine, shared by the stage files and tests.
// A routine that does the work of a 3GPP TS 26.073 routine carries its name (Syn_filt,
// D_plsf_3, sum_sq_sat); the decoder's own routines, among them the pieces it splits a 3GPP
// routine into and its fast forms, are CamelCase (PostFilterSetup, AgcStep, MedianOf,
// TiltFactors), as are the kernels they call over n samples (vector_kernels.h). Scalar values
// are int32_t even where their range is 16 bits; signals and LP coefficients are int16_t arrays; LSF/LSP vectors are ten
// int32_t values; an LP coefficient set is a1..a10 in Q12 (a0 = 4096 implicit).
#ifndef AMRDEC_STAGES_H
#define AMRDEC_STAGES_H

#include <cstdint>

#include "decoder_state.h"

namespace amrnb {

// ---- Arithmetic and filter primitives (primitives.cpp) ----
int32_t div_s(int32_t num, int32_t den);
int32_t norm_l(int32_t x);
int32_t sum_sq(int32_t n, const int16_t* x);
int32_t sum_sq_sat(int32_t n, const int16_t* x);
int32_t energy_old(const int16_t* x);  // 40 samples
// Energy measure of the gain controls agc and agc2 over 40 samples, normalised with `headroom`
// bits left free: returns its rounded high 16 bits (0 for silence), the shift in *exp.
int32_t AgcNormEnergy(const int16_t* x, int32_t headroom, int32_t* exp);
int32_t Inv_sqrt(int32_t x);
void Log2(int32_t x, int32_t* exponent, int32_t* fraction);
void Log2_norm(int32_t x, int32_t e, int32_t* exponent, int32_t* fraction);
int32_t Pow2(int32_t exponent, int32_t fraction);
int32_t sqrt_l_exp(int32_t x, int32_t* shift);  // returns the mantissa
// y[-10..-1] hold the filter memory; y may equal x.
void Syn_filt(const int16_t* a, const int16_t* x, int16_t* y);
// x[-10..-1] must be readable.
void Residu(const int16_t* a, const int16_t* x, int16_t* y);
void Exc_combine(int16_t* x, const int16_t* u, int32_t gx, int32_t gu, int32_t shift);
void Lsf_lsp(const int32_t* lsf, int32_t* lsp);
void Lsp_lsf(const int32_t* lsp, int32_t* lsf);
void Reorder_lsf(int32_t* lsf);
// Reads lsp[0], lsp[2], lsp[4], lsp[6], lsp[8]; writes f[0..5].
void Get_lsp_pol(const int32_t* lsp, int32_t* f);
void Lsp_Az(const int32_t* lsp, int16_t* a);
void Lsp_mix_quarter(const int32_t* old_lsp, const int32_t* new_lsp, int32_t* out);
void build_CN_code(int32_t amplitude, int32_t* seed, int16_t* code);
int32_t pseudonoise(int32_t* shift_reg, int32_t no_bits);
// Median of n (odd, at most 9) gains or energies by partial selection.
int32_t MedianOf(const int32_t* x, int32_t n);

// ---- Bitstream unpacking (unpack.cpp) ----
int32_t UnpackStorageFrame(const uint8_t* frame, int16_t* parm, int32_t* rx_type, int32_t* speech_mode,
                           int16_t* quality);
int32_t UnpackIf2Frame(const uint8_t* frame, int16_t* parm, int32_t* rx_type, int32_t* speech_mode);

// ---- Receive classification (rx_classify.cpp) ----
int32_t rx_dtx_handler(DecoderState& st, int32_t rx_type);
// Speech-path classification: sets *bfi and *pdfi, updates st.state and st.prev_bf, and
// replaces parm by substitute parameters for onset and no-data frames.
void rx_classify(DecoderState& st, int32_t rx_type, int32_t mode, int16_t* parm, int32_t* bfi,
                 int32_t* pdfi);
void build_CN_param(int16_t* seed, int32_t mode, int16_t* parm);

// ---- LSF decoding and LP interpolation (lsf_decode.cpp) ----
void D_plsf_3(DecoderState& st, int32_t mode, int32_t bfi, const int16_t* indice, int32_t* lsp1_q);
void D_plsf_5(DecoderState& st, int32_t bfi, const int16_t* indice, int32_t* lsp1_q, int32_t* lsp2_q);
void Int_lpc_1to3(const int32_t* lsp_old, const int32_t* lsp_new, int16_t* Az);
void Int_lpc_1and3(const int32_t* lsp_old, const int32_t* lsp_mid, const int32_t* lsp_new, int16_t* Az);
void lsp_avg(DecoderState& st, const int32_t* lsp);

// ---- Pitch lag, adaptive and algebraic codebooks (codebooks.cpp) ----
void Dec_lag3(int32_t index, int32_t t0_min, int32_t t0_max, int32_t pit_flag, int32_t T0_prev,
              int32_t* T0, int32_t* T0_frac, int32_t flag4);
void Dec_lag6(int32_t index, int32_t pit_flag, int32_t* T0, int32_t* T0_frac);
void Pred_lt_3or6(int16_t* exc, int32_t T0, int32_t frac, int32_t flag3);
void decode_2i40_9bits(int32_t subNr, int32_t sign, int32_t index, int16_t* cod);
void decode_2i40_11bits(int32_t sign, int32_t index, int16_t* cod);
void decode_3i40_14bits(int32_t sign, int32_t index, int16_t* cod);
void decode_4i40_17bits(int32_t sign, int32_t index, int16_t* cod);
void decompress_code(const int16_t* indx, int32_t* pos_indx);  // 3 words -> 8 codewords
void dec_8i40_31bits(const int16_t* index, int16_t* cod);
void dec_10i40_35bits(const int16_t* index, int16_t* cod);

// ---- Gains, gain concealment, phase dispersion, pitch emphasis (gains.cpp) ----
void gc_pred(const DecoderState& st, int32_t mode, const int16_t* code, int32_t* exp_gcode0,
             int32_t* frac_gcode0);
void Dec_gain(DecoderState& st, int32_t mode, int32_t index, const int16_t* code, int32_t evenSubfr,
              int32_t* gain_pit, int32_t* gain_cod);
void d_gain_code(DecoderState& st, int32_t mode, int32_t index, const int16_t* code, int32_t* gain_code);
void gc_pred_average_limited(const DecoderState& st, int32_t* ener_avg_MR122, int32_t* ener_avg);
int32_t ec_gain_pitch(const DecoderState& st, int32_t state);
void ec_gain_pitch_update(DecoderState& st, int32_t bfi, int32_t prev_bf, int32_t* gain_pitch);
int32_t ec_gain_code(DecoderState& st, int32_t state);
void ec_gain_code_update(DecoderState& st, int32_t bfi, int32_t prev_bf, int32_t* gain_code);
// Cb_gain_average's relative distance of the LSFs from their long-term mean, Q13, saturated.
int32_t LsfMeanDistance(const int32_t* lsf, const int32_t* mean);
int32_t Cb_gain_average(DecoderState& st, int32_t mode, int32_t gain_code, const int32_t* lsp,
                        const int32_t* lspAver, int32_t bfi, int32_t prev_bf, int32_t pdfi,
                        int32_t prev_pdf, int32_t inBackgroundNoise, int32_t voicedHangover);
// code has 80 entries; returns 1 when the dispersed innovation was written to code[40..79].
int32_t ph_disp(DecoderState& st, int32_t mode, int32_t gain_pit, int32_t gain_code, int16_t* code);
// exc_enhanced has 80 entries: the total excitation, then the emphasised one (written).
void Pitch_emphasis(const int16_t* exc, int16_t* exc_enhanced, int32_t pit_sharp, int32_t gain_pit,
                    int32_t mode);

// ---- Background noise and excitation energy control (background_noise.cpp) ----
int32_t Bgn_scd(DecoderState& st, const int16_t* speech, const int32_t* ltpGainHist,
                int32_t* voicedHangover);
int32_t Ex_ctrl(int16_t* excitation, int32_t excEnergy, const int32_t* exEnergyHist,
                int32_t voicedHangover, int32_t prevBFI, int32_t carefulFlag);

// ---- Comfort noise and DTX (comfort_noise.cpp) ----
// synth has ten memory slots before its first sample.
void dtx_dec(DecoderState& st, int16_t* synth, int16_t* A_t, int32_t new_state, int32_t mode,
             const int16_t* parm);
void dtx_dec_activity_update(DecoderState& st, const int32_t* lsf, const int16_t* frame);
void A_Refl(const int16_t* a, int32_t* refl);

// ---- Post-filter and output stage pieces (post_filter.cpp, output_stage.h) ----
// Post_Filter of 3GPP TS 26.073 in pieces, which the frame's filters below run in either order:
// the coefficients and tilts of the frame; the tilt-compensated residual of subframe k into
// scr.pf_out(), ready for Syn_filt with scr.pf_den[k]; agc's gain step of subframe k once it
// is filtered (and the filter memory after subframe 3).
void PostFilterSetup(DecoderState& st, int32_t mode, DecoderScratch& scr);
void PostFilterResidual(DecoderState& st, DecoderScratch& scr, int k);
void PostFilterFinish(DecoderState& st, DecoderScratch& scr, int k);
// Tilt_factor of the weighted filter pairs num[k] / den[k] of the four subframes.
void TiltFactors(const int16_t (*num)[M], const int16_t (*den)[M], int32_t* tilt);
// agc's gain step g0 for one subframe of post-filtered speech against its input (the first
// part of agc; the output stage applies the gains), -1 when the output is silent.
int32_t AgcStep(const int16_t* sig_in, const int16_t* sig_out);

// ---- The frame's filters: synthesis, post-filter, agc and output high-pass (frame_filters.cpp) ----
// One contract, two schedules with the same results. FrameFiltersBegin once per frame, with
// the coefficient sets in scr.A_t; FrameFiltersSubframe for k = 0..3 in order, with the
// subframe's synthesis excitation (speech frames; the synthesis memory in the ten samples
// before scr.synth()) or none (comfort noise: the subframe's samples already in scr.synth());
// FrameFiltersEnd. They write scr.synth() (speech), the post-filtered frame after agc into
// scr.pf_out(), the 160 output samples into `out`, and the state's post-filter, agc and
// high-pass memories. Until FrameFiltersEnd the frame's output is incomplete.
//   kSerial: each subframe through the synthesis filter and the post-filter as it comes; at
//     the end, subframe by subframe, agc and the output high-pass. The plain form; the
//     scalar build uses it.
//   kInterleaved: the synthesis of subframe k, the post-filter's synthesis of subframe k - 1
//     and agc with the high-pass of subframe k - 2 share the same loops, so that their chains
//     of dependent steps overlap (output_stage.h). The other builds use it.
enum class Schedule : int32_t { kSerial, kInterleaved };
void FrameFiltersBegin(DecoderScratch& scr, DecoderState& st, int32_t mode, Schedule schedule);
void FrameFiltersSubframe(DecoderScratch& scr, DecoderState& st, int k, const int16_t* excitation, int16_t* out,
                          Schedule schedule);
void FrameFiltersEnd(DecoderScratch& scr, DecoderState& st, int16_t* out, Schedule schedule);

// ---- Frame synthesis core (decoder_core.cpp) ----
// `trace`, when not null, receives the values between the stages (trace.h). Both paths,
// speech and comfort noise, run the frame filters, which write the frame's output to `out`.
class DecodeTrace;
void Decoder_amr(DecoderScratch& scr, DecoderState& st, int32_t mode, int32_t rx_type, DecodeTrace* trace,
                 int16_t* out, Schedule schedule);

}  // namespace amrnb

#endif  // AMRDEC_STAGES_H
