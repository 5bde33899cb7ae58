// Fixed-point helpers of the decoder, named for their width and overflow behaviour.
//
// The decoder computes in plain 32-bit two's-complement arithmetic. A `_wrap` helper wraps
// modulo 2^32 (or 2^16) through unsigned arithmetic, a `_sat` helper saturates; a plain
// operator is used only where the value is known to stay in range.
#ifndef AMRDEC_FIXED_POINT_H
#define AMRDEC_FIXED_POINT_H

// Internal to the decoder: its own sources and the test-support target define AMRNBDEC_INTERNAL.
#ifndef AMRNBDEC_INTERNAL
#error "decoder-internal header: use amrnb_decoder.h, or link amrnbdec_testsupport"
#endif

#include <bit>
#include <cstdint>

namespace amrnb {

inline constexpr int32_t MAX_16 = 32767;
inline constexpr int32_t MIN_16 = -32768;
inline constexpr int32_t MAX_32 = 0x7FFFFFFF;
inline constexpr int32_t MIN_32 = INT32_MIN;

// Low 16 bits of x as a signed value ("stored as 16 bits").
constexpr int16_t wrap16(int32_t x) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(x) & 0xFFFFu));
}

// x clamped to -32768..32767.
constexpr int16_t sat16(int32_t x) {
  return static_cast<int16_t>(x > MAX_16 ? MAX_16 : (x < MIN_16 ? MIN_16 : x));
}
// A wider x (a sum or product formed in 64 bits) clamped to -32768..32767.
constexpr int16_t sat16_64(int64_t x) {
  return static_cast<int16_t>(x > MAX_16 ? MAX_16 : (x < MIN_16 ? MIN_16 : x));
}

// A gain that belongs in 0..32767, or 32767. The standard forms such gains by saturating
// 32-bit operations; here they are formed in plain arithmetic, where a value beyond the range
// can come out too large or, having wrapped past 2^31, negative: both stand for a gain too
// large to represent, hence the maximum.
constexpr int32_t gain16_or_max(int32_t x) { return (x < 0 || x > MAX_16) ? MAX_16 : x; }

// 32-bit result of a wider value clamped to the int32 range.
constexpr int32_t sat32(int64_t x) {
  return static_cast<int32_t>(x > MAX_32 ? MAX_32 : (x < MIN_32 ? MIN_32 : x));
}

// Rounded high 16 bits of x, (x + 0x8000) >> 16, with the addition saturating: 32767 where it
// would pass 0x7FFFFFFF.
constexpr int32_t round16_sat(int32_t x) { return x > MAX_32 - 0x8000 ? MAX_16 : (x + 0x8000) >> 16; }

// Wrapping 32-bit arithmetic (modulo 2^32).
constexpr int32_t add_wrap32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
constexpr int32_t sub_wrap32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
constexpr int32_t mul_wrap32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
// Plain 32-bit left shift, bits shifted out are lost (s in 0..31).
constexpr int32_t shl_wrap32(int32_t x, int32_t s) {
  return static_cast<int32_t>(static_cast<uint32_t>(x) << s);
}

// Left shift by s >= 0 that saturates to 0x7FFFFFFF or 0x80000000 when x << s leaves the
// 32-bit range.
constexpr int32_t shl_sat32(int32_t x, int32_t s) {
  if (x == 0) return 0;
  if (s >= 31) return x > 0 ? MAX_32 : MIN_32;
  if (x > (MAX_32 >> s)) return MAX_32;
  if (x < (MIN_32 >> s)) return MIN_32;
  return shl_wrap32(x, s);
}

// Arithmetic right shift that accepts any count >= 0: a count of 32 or more gives
// what a shift by the full count would (0 or -1).
constexpr int32_t shr_full(int32_t x, int32_t s) { return s >= 31 ? (x < 0 ? -1 : 0) : (x >> s); }

// Product with a Q15 factor, shifted right by 15 without rounding; the 32-bit product wraps.
constexpr int32_t mult_q15(int32_t a, int32_t b) { return mul_wrap32(a, b) >> 15; }

// Left shifts that bring a 16-bit value into 0x4000..0x7FFF (a negative value is replaced by
// its one's complement first); 0 for 0 and for -1. x must lie in -32768..32767.
// Counted from the leading zeros: 1..32767 has 17..31 of them in 32 bits.
constexpr int32_t norm_s(int32_t x) {
  const uint32_t v = static_cast<uint32_t>(x < 0 ? ~x : x);
  return v == 0 ? 0 : std::countl_zero(v) - 17;
}

}  // namespace amrnb

#endif  // AMRDEC_FIXED_POINT_H
