// vector_trig.h - cosine and sine of double-precision vectors whose results
// round to single precision exactly as the C library's do.
//
// Included only by the translation units built for one vector instruction
// set. Everything here is a template over that unit's operation set V, so no
// function compiled with wide instructions can be shared, through the linker,
// with code that must run on any CPU.
//
// Method: the angle is reduced by multiples of pi/2 (Cody-Waite with pi/2 in
// two parts, the products fused with their subtractions where V can) to r with
// |r| <= pi/4, rounded once, then cos r and sin r come from minimax
// polynomials (relative error below 0.07 ulp over the interval) evaluated by
// Estrin's scheme for short dependency chains, with the leading terms kept
// apart. That bounds the error of each result by about 1.5 ulp in double
// precision (see CosSinReduced), far inside the guard band below: a result
// outside the band and a library result within 1 ulp of the true value lie
// on the same side of every midpoint as long as the error stays below
// kMidpointGuard - 1 ulps. A unit without fused multiply-adds (see
// HasFusedMultiplyAdd) evaluates the same steps unfused, with the same
// reduction and the same polynomials, within about 1.7 ulps (see
// CosSinReduced).
//
// Accuracy alone cannot promise the same single-precision rounding as the
// library: a true value may lie closer to the midpoint between two floats
// than either evaluation's error. So every result within kMidpointGuard ulps
// of such a midpoint (about one in 2^25) is replaced by the library's own
// value, as is every result for an angle outside the reduction's domain.
// This evaluation and an accurate library's (glibc documents its cos and sin
// to within 1 ulp) are then both on the same side of every midpoint, so they
// round to the same float. A less accurate library (MinGW-w64's is up to a
// few thousand ulps off) is covered by the test that compares every angle
// the kernel can draw.

#pragma once

#include <cmath>
#include <cstdint>

#include "app/ao_vector_ops.h"

namespace AoBench::AoVectorTrig {

// Angles beyond this magnitude go to the library. Up to it (the kernel's
// angles lie in [0, 2 pi (1 + 2^-24)]) k is at most 5, and no
// single-precision angle but 0 comes closer than 2^-27 to a multiple of
// pi/2, which the reduction below relies on.
inline constexpr double kReductionLimit = 8.0;

// Results within this band of a single-precision rounding midpoint go to the
// library: from kMidpointGuard ulps (of double precision) below a midpoint
// to kMidpointGuard - 1 above it.
inline constexpr std::uint64_t kMidpointGuard = 8;

inline constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
// Adding this rounds a double below 2^51 in magnitude to an integer and
// leaves the integer, two's complement, in the low bits of the mantissa.
inline constexpr double kRoundingShift = 0x1.8p52;
// pi/2 = kPiOver2Hi + kPiOver2Mid + kPiOver2Lo to about 160 bits; the
// reduction needs only the first two (see below). kPiOver2Hi has 50
// significant bits (its last three are zero), so k * kPiOver2Hi is exact for
// every integer |k| <= 7.
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
    const typename V::Q shifted =
        V::Add64(V::AsBits(value), V::Set64((std::uint64_t{1} << 28) + kMidpointGuard));
    return V::NoBitsOf64(shifted, (std::uint64_t{1} << 29) - 2 * kMidpointGuard);
}

// Lanes of a or b within the guard band, as NearFloatMidpoint, tested on
// both at once as 32-bit lanes; only V::Any of the result is meaningful. The
// band test reads bits 0..28 of a pattern, all in its low 32-bit half, which
// a carry out of bit 31 would not reach anyway.
template <class V>
typename V::FMask NearFloatMidpointPacked(typename V::D a, typename V::D b) {
    const typename V::I low = V::LowHalvesUnordered(V::AsBits(a), V::AsBits(b));
    return V::NoBits32(V::Add32(low, V::Set32((std::uint32_t{1} << 28) + kMidpointGuard)),
                       V::Set32((std::uint32_t{1} << 29) - 2 * kMidpointGuard));
}

// The guard-band test of a cosine and a sine vector in the form V prefers
// (V::kPackedMidpointTest), and the empty mask of that form; V::Any of the
// union of the results says whether any lane is within the band.
template <class V>
auto NearFloatMidpointEither(typename V::D a, typename V::D b) {
    if constexpr (V::kPackedMidpointTest) {
        return NearFloatMidpointPacked<V>(a, b);
    } else {
        return V::Or(NearFloatMidpoint<V>(a), NearFloatMidpoint<V>(b));
    }
}
template <class V>
auto NoMidpointLanes() {
    if constexpr (V::kPackedMidpointTest) {
        return V::NoLanes();
    } else {
        return V::NoLanes64();
    }
}

// cos x and sin x from c = cos r and s = sin r, already rounded to single,
// for x = r + k * pi/2, with k's low bits in the low words of the quadrant
// vectors of the two halves (low lanes first). Exact: rounding to nearest
// commutes with negation, and the swap is a selection. Quadrant k mod 4:
// cos x = c, -s, -c, s; sin x = s, c, -s, -c.
template <class V>
void ApplyQuadrantInSingle(typename V::Q low, typename V::Q high, typename V::F& c, typename V::F& s) {
    using I = typename V::I;
    const I k = V::LowHalves(low, high);
    const typename V::FMask swap = V::LowBitSet32(k);
    // sin x is negated for k mod 4 = 2 and 3 (bit 1), cos x for 1 and 2 (bit 1
    // differs from bit 0).
    const I sinSign = V::template ShiftLeft32<30>(V::And32(k, V::Set32(2)));
    const I cosSign = V::Xor32(sinSign, V::template ShiftLeft32<31>(k));
    const typename V::F cosX = V::XorBits(V::Select(swap, s, c), cosSign);
    s = V::XorBits(V::Select(swap, c, s), sinSign);
    c = cosX;
}

// The same in double precision, before the rounding: for the evaluation of
// any angle, and for V that keeps it there (V::kQuadrantInSingle false).
template <class V>
void ApplyQuadrantInDouble(typename V::Q quadrant, typename V::D& c, typename V::D& s) {
    using Q = typename V::Q;
    const typename V::DMask swap = V::LowBitSet(quadrant);
    const Q sinSign = V::ShiftLeft62(V::And(quadrant, V::Set64(2)));
    const Q cosSign = V::ShiftLeft62(V::And(V::Add64(quadrant, V::Set64(1)), V::Set64(2)));
    const typename V::D cosX = V::XorBits(V::Select(swap, s, c), cosSign);
    s = V::XorBits(V::Select(swap, c, s), sinSign);
    c = cosX;
}

// a * b + c and c - a * b: fused, rounded once, where V has fused
// multiply-adds; otherwise the product rounded, then the sum (see
// CosSinReduced for what that costs in accuracy).
template <class V>
[[gnu::always_inline]] inline typename V::D MulAdd(typename V::D a, typename V::D b, typename V::D c) {
    if constexpr (AoVectorKernel::HasFusedMultiplyAdd<V>) {
        return V::Fma(a, b, c);
    } else {
        return V::Add(V::Mul(a, b), c);
    }
}
template <class V>
[[gnu::always_inline]] inline typename V::D NegMulAdd(typename V::D a, typename V::D b, typename V::D c) {
    if constexpr (AoVectorKernel::HasFusedMultiplyAdd<V>) {
        return V::Fnma(a, b, c);
    } else {
        return V::Sub(c, V::Mul(a, b));
    }
}

// cos r and sin r for every lane of the kCount vectors x, where
// x = r + k * pi/2 with |r| <= pi/4, and the bits of k + 2^52 + 2^51 in
// quadrant (k's low two bits are its low two bits). x must lie within the
// reduction's domain, [-kReductionLimit, kReductionLimit] but -0. Each
// result is within the accuracy above unless it is within the guard band;
// the band test does not depend on the signs of the results nor on which is
// the cosine, so it holds for cos x and sin x as well. The vectors go
// through each step together, so that their independent chains of
// operations are next to each other.
template <class V, int kCount>
[[gnu::always_inline]] inline void CosSinReduced(const typename V::D* x, typename V::D* cosR,
                                                 typename V::D* sinR, typename V::Q* quadrant) {
    using D = typename V::D;
    D k[kCount], rh[kCount], z[kCount], v[kCount];

    // k = nearest integer to x * 2/pi; its low two bits pick the quadrant.
    for (int i = 0; i < kCount; ++i) {
        const D shifted = MulAdd<V>(x[i], V::Set(kTwoOverPi), V::Set(kRoundingShift));
        quadrant[i] = V::AsBits(shifted);
        k[i] = V::Sub(shifted, V::Set(kRoundingShift));
    }
    // r = x - k * pi/2, rounded once. a = x - k * kPiOver2Hi is exact: both
    // are multiples of 2^-52 and the difference is below 1 in magnitude. r is
    // a - k * kPiOver2Mid rounded: within half an ulp (plus 2^-79 relative)
    // of x - k * pi/2, since the rest of pi/2, k * kPiOver2Lo, is below
    // 2^-106 while |r| >= 2^-27 for every angle of the domain with k != 0
    // (see kReductionLimit); with k = 0, r = x exactly.
    //
    // Unfused, a is the same: |k| <= 5 in the domain, so k * kPiOver2Hi is
    // exact (see kPiOver2Hi). The product k * kPiOver2Mid, below 2^-51, is
    // rounded once more, by at most 2^-105: 2^-78 of |r|. And k may be the
    // other neighbour of an x * 2/pi within 2^-50 of a half-integer, which
    // leaves |r| <= pi/4 + 2^-49.
    for (int i = 0; i < kCount; ++i) {
        const D a = NegMulAdd<V>(k[i], V::Set(kPiOver2Hi), x[i]);
        rh[i] = NegMulAdd<V>(k[i], V::Set(kPiOver2Mid), a);
    }
    for (int i = 0; i < kCount; ++i) z[i] = V::Mul(rh[i], rh[i]);
    D z2[kCount];
    for (int i = 0; i < kCount; ++i) z2[i] = V::Mul(z[i], z[i]);
    for (int i = 0; i < kCount; ++i) v[i] = V::Mul(z[i], rh[i]);

    // sin r ~ r + v * P(z), P = S1 + z * S2 + ... + z^5 * S6 by Estrin's
    // scheme: (S1 + z S2) + z^2 ((S3 + z S4) + z^2 (S5 + z S6)). v * P is
    // below r / 9, so its rounding errors reach the result at a ninth of
    // their size; the sum is rounded once.
    for (int i = 0; i < kCount; ++i) {
        const D p01 = MulAdd<V>(z[i], V::Set(kSin2), V::Set(kSin1));
        const D p23 = MulAdd<V>(z[i], V::Set(kSin4), V::Set(kSin3));
        const D p45 = MulAdd<V>(z[i], V::Set(kSin6), V::Set(kSin5));
        const D p = MulAdd<V>(z2[i], MulAdd<V>(z2[i], p45, p23), p01);
        sinR[i] = MulAdd<V>(v[i], p, rh[i]);
    }

    // cos r ~ (1 - z / 2) + z^2 * Q(z), Q by Estrin's scheme as P. w = 1 - z / 2
    // is rounded once (fused), within half an ulp of itself, and cos r >= 0.7
    // shares w's ulp; z^2 * Q is below 0.016, so its rounding errors reach the
    // result at a sixtieth of their size; the sum is rounded once. With the
    // error of z (at most 0.3 ulp of the result) that is within 1.4 ulp.
    //
    // Unfused, the same bounds gain little. z / 2 is exact (or, for z below
    // 2^-1000, too small to change 1 - z / 2), so w is the same. Each product
    // of the polynomials is rounded before its sum, but every product of
    // Estrin's scheme is at most a thirtieth of the sum it joins, and the
    // last ones are small beside the result: v * P below 0.115 of sin r,
    // z^2 * Q below 0.023 of cos r. Their roundings, half an ulp of
    // themselves, add below 0.12 ulp to sin r and 0.03 ulp to cos r, and the
    // rest (with r's extra 2^-78 and 2^-49 beyond pi/4, which the
    // polynomials' error does not notice) below 0.1 ulp: within 1.7 ulps,
    // far inside the guard band.
    for (int i = 0; i < kCount; ++i) {
        const D q01 = MulAdd<V>(z[i], V::Set(kCos2), V::Set(kCos1));
        const D q23 = MulAdd<V>(z[i], V::Set(kCos4), V::Set(kCos3));
        const D q45 = MulAdd<V>(z[i], V::Set(kCos6), V::Set(kCos5));
        const D q = MulAdd<V>(z2[i], MulAdd<V>(z2[i], q45, q23), q01);
        const D w = NegMulAdd<V>(z[i], V::Set(0.5), V::Set(1.0));
        cosR[i] = MulAdd<V>(z2[i], q, w);
    }
}

// cos x and sin x for one vector of any angles; returns the mask of the lanes
// that must be taken from the library instead: those within the guard band
// and those outside the reduction's domain.
template <class V>
typename V::DMask CosSinLanes(typename V::D x, typename V::D& cosOut, typename V::D& sinOut) {
    typename V::Q quadrant;
    CosSinReduced<V, 1>(&x, &cosOut, &sinOut, &quadrant);
    typename V::DMask fallback = V::Or(V::Or(NearFloatMidpoint<V>(sinOut), NearFloatMidpoint<V>(cosOut)),
                                       V::NotWithin(x, kReductionLimit));
    // sin(-0) is -0, but r + v * P gives +0 there.
    const typename V::Q minusZero = V::Add64(V::AsBits(x), V::Set64(std::uint64_t{1} << 63));
    fallback = V::Or(fallback, V::NoBitsOf64(minusZero, ~std::uint64_t{0}));
    ApplyQuadrantInDouble<V>(quadrant, cosOut, sinOut);
    return fallback;
}

// cos x and sin x exactly as the library computes them wherever the result
// matters after rounding to single precision: the lanes CosSinLanes cannot
// round safely are taken from the library. Rarely needed in the kernel, so
// kept out of line. Returns the number of lanes so taken.
template <class V>
[[gnu::noinline]] int CosSinFromLibrary(typename V::D x, typename V::D& cosOut, typename V::D& sinOut) {
    typename V::D c, s;
    const typename V::DMask fallback = CosSinLanes<V>(x, c, s);
    constexpr int kLanes = V::kLanes / 2;
    alignas(64) double angles[kLanes];
    alignas(64) double cosines[kLanes];
    alignas(64) double sines[kLanes];
    alignas(64) std::uint64_t take[kLanes];
    V::Store(angles, x);
    V::Store(cosines, c);
    V::Store(sines, s);
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

}  // namespace AoBench::AoVectorTrig
