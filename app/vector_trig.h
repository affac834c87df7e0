// vector_trig.h - cosine and sine of double-precision vectors whose results
// round to single precision exactly as the C library's do.
//
// Included only by the translation units built for one vector instruction
// set. Everything here is a template over that unit's operation set V, so no
// function compiled with wide instructions can be shared, through the linker,
// with code that must run on any CPU.
//
// Method: the angle is reduced by multiples of pi/2 (Cody-Waite, pi/2 in
// three parts, the first product exact through a fused multiply-add) to a
// double-double r = rh + rl with |r| <= pi/4, then cos r and sin r come from
// minimax polynomials (relative error below 0.07 ulp over the interval) with
// the leading terms kept apart, which bounds the error of each result by
// about 0.6 ulp in double precision.
//
// Accuracy alone cannot promise the same single-precision rounding as the
// library: a true value may lie closer to the midpoint between two floats
// than either evaluation's error. So every result within kMidpointGuard ulps
// of such a midpoint (about one in 2^26) is replaced by the library's own
// value, as is every result for an angle outside the reduction's domain.
// Both evaluations lie within 2 ulps of the true value, so outside the guard
// band they round to the same float.

#ifndef KAV_APP_VECTOR_TRIG_H
#define KAV_APP_VECTOR_TRIG_H

#include <cmath>
#include <cstdint>

namespace AoVectorTrig {

// Angles beyond this magnitude go to the library: up to it the three-part
// reduction is exact enough for every single-precision angle.
inline constexpr double kReductionLimit = 65536.0;

// Results within this band of a single-precision rounding midpoint go to the
// library: from kMidpointGuard ulps (of double precision) below a midpoint
// to kMidpointGuard - 1 above it.
inline constexpr std::uint64_t kMidpointGuard = 8;

inline constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
// Adding this rounds a double below 2^51 in magnitude to an integer and
// leaves the integer, two's complement, in the low bits of the mantissa.
inline constexpr double kRoundingShift = 0x1.8p52;
// pi/2 = kPiOver2Hi + kPiOver2Mid + kPiOver2Lo to about 160 bits.
inline constexpr double kPiOver2Hi = 0x1.921fb54442d18p+0;
inline constexpr double kPiOver2Mid = 0x1.1a62633145c07p-54;
inline constexpr double kPiOver2Lo = -0x1.f1976b7ed8fbcp-110;

// sin r = r + r^3 * (S1 + z * (S2 + ... + z * S6)), z = r^2, |r| <= pi/4.
inline constexpr double kSin1 = -0x1.5555555555549p-3;
inline constexpr double kSin2 = 0x1.111111110f861p-7;
inline constexpr double kSin3 = -0x1.a01a019c0e4bcp-13;
inline constexpr double kSin4 = 0x1.71de3574ba1f7p-19;
inline constexpr double kSin5 = -0x1.ae5e63cd5aa56p-26;
inline constexpr double kSin6 = 0x1.5d9246c11b138p-33;

// cos r = 1 - z / 2 + z^2 * (C1 + z * (C2 + ... + z * C6)).
inline constexpr double kCos1 = 0x1.555555555554cp-5;
inline constexpr double kCos2 = -0x1.6c16c16c15162p-10;
inline constexpr double kCos3 = 0x1.a01a019caef35p-16;
inline constexpr double kCos4 = -0x1.27e4f807d6054p-22;
inline constexpr double kCos5 = 0x1.1ee9ea6cac3a7p-29;
inline constexpr double kCos6 = -0x1.8fadd0641a0dep-37;

// Lanes within the guard band of a single-precision midpoint. In a double
// inside the float range the low 29 bits of the pattern are what rounding to
// float drops, and 2^28 there is the midpoint. Adding 2^28 + guard (mod 2^29)
// moves the band [2^28 - guard, 2^28 + guard) onto [0, 2 * guard), the
// values with no bit set between bit log2(2 * guard) and bit 28.
template <class V>
typename V::DMask NearFloatMidpoint(typename V::D value) {
  static_assert((kMidpointGuard & (kMidpointGuard - 1)) == 0, "the band test needs a power of two");
  const typename V::Q shifted = V::Add64(V::AsBits(value), V::Set64((std::uint64_t{1} << 28) + kMidpointGuard));
  return V::NoBitsOf64(shifted, (std::uint64_t{1} << 29) - 2 * kMidpointGuard);
}

// cos x and sin x for every lane of x; returns the mask of the lanes that
// must be taken from the library instead (see above). Callers whose angles
// are known to lie within the reduction's domain leave out its check.
template <class V, bool kCheckDomain>
typename V::DMask CosSinApprox(typename V::D x, typename V::D& cosOut, typename V::D& sinOut) {
  using D = typename V::D;
  using Q = typename V::Q;

  // k = nearest integer to x * 2/pi; its low two bits pick the quadrant.
  const D shifted = V::Fma(x, V::Set(kTwoOverPi), V::Set(kRoundingShift));
  const Q quadrant = V::AsBits(shifted);
  const D k = V::Sub(shifted, V::Set(kRoundingShift));

  // r = x - k * pi/2 as rh + rl. x - k * kPiOver2Hi is exact: both are
  // multiples of 2^-52 and the difference is below 1 in magnitude.
  const D a = V::Fnma(k, V::Set(kPiOver2Hi), x);
  const D bh = V::Mul(k, V::Set(kPiOver2Mid));
  const D bl = V::Fms(k, V::Set(kPiOver2Mid), bh);  // k * mid - bh, exactly
  const D rh = V::Sub(a, bh);
  const D rl = V::Sub(V::Sub(V::Sub(V::Sub(a, rh), bh), bl), V::Mul(k, V::Set(kPiOver2Lo)));

  const D z = V::Mul(rh, rh);
  const D v = V::Mul(z, rh);

  // sin(rh + rl) ~ rh + v * S1 + v * z * P(z) + rl * (1 - z / 2).
  D ps = V::Fma(z, V::Set(kSin6), V::Set(kSin5));
  ps = V::Fma(z, ps, V::Set(kSin4));
  ps = V::Fma(z, ps, V::Set(kSin3));
  ps = V::Fma(z, ps, V::Set(kSin2));
  const D e1 = V::Fnma(v, ps, V::Mul(V::Set(0.5), rl));  // rl / 2 - v * P
  const D e2 = V::Fms(z, e1, rl);                          // z * e1 - rl
  const D e3 = V::Fnma(v, V::Set(kSin1), e2);              // e2 - v * S1
  const D sinR = V::Sub(rh, e3);

  // cos(rh + rl) ~ (1 - z / 2) + z^2 * Q(z) - rh * rl, with the rounding
  // error of 1 - z / 2 carried into the small terms.
  D pc = V::Fma(z, V::Set(kCos6), V::Set(kCos5));
  pc = V::Fma(z, pc, V::Set(kCos4));
  pc = V::Fma(z, pc, V::Set(kCos3));
  pc = V::Fma(z, pc, V::Set(kCos2));
  pc = V::Fma(z, pc, V::Set(kCos1));
  const D halfZ = V::Mul(V::Set(0.5), z);
  const D w = V::Sub(V::Set(1.0), halfZ);
  const D tail = V::Fms(z, V::Mul(z, pc), V::Mul(rh, rl));
  const D cosR = V::Add(w, V::Add(V::Sub(V::Sub(V::Set(1.0), w), halfZ), tail));

  // Quadrant q: sin x = sin r, cos r, -sin r, -cos r; cos x = cos r, -sin r,
  // -cos r, sin r.
  const typename V::DMask swap = V::LowBitSet(quadrant);
  const Q sinSign = V::ShiftLeft62(V::And(quadrant, V::Set64(2)));
  const Q cosSign = V::ShiftLeft62(V::And(V::Add64(quadrant, V::Set64(1)), V::Set64(2)));
  sinOut = V::XorBits(V::Select(swap, cosR, sinR), sinSign);
  cosOut = V::XorBits(V::Select(swap, sinR, cosR), cosSign);

  const typename V::DMask nearMidpoint = V::Or(NearFloatMidpoint<V>(sinOut), NearFloatMidpoint<V>(cosOut));
  if constexpr (kCheckDomain) return V::Or(nearMidpoint, V::NotWithin(x, kReductionLimit));
  return nearMidpoint;
}

// cos x and sin x, each exactly as the library computes them wherever the
// result matters after rounding to single precision. Returns the number of
// lanes taken from the library.
template <class V, bool kCheckDomain>
int CosSin(typename V::D x, typename V::D& cosOut, typename V::D& sinOut) {
  const typename V::DMask fallback = CosSinApprox<V, kCheckDomain>(x, cosOut, sinOut);
  if (!V::Any(fallback)) return 0;

  constexpr int kLanes = V::kLanes / 2;
  alignas(64) double angles[kLanes];
  alignas(64) double cosines[kLanes];
  alignas(64) double sines[kLanes];
  alignas(64) std::uint64_t take[kLanes];
  V::Store(angles, x);
  V::Store(cosines, cosOut);
  V::Store(sines, sinOut);
  V::StoreMask(take, fallback);
  int taken = 0;
  for (int lane = 0; lane < kLanes; ++lane) {
    if (take[lane] == 0) continue;
    cosines[lane] = std::cos(angles[lane]);
    sines[lane] = std::sin(angles[lane]);
    ++taken;
  }
  cosOut = V::Load(cosines);
  sinOut = V::Load(sines);
  return taken;
}

}  // namespace AoVectorTrig

#endif  // KAV_APP_VECTOR_TRIG_H
