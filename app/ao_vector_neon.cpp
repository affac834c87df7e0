// ao_vector_neon.cpp - the 4-lane paths of the AO kernel (occlusion rays,
// cosine and sine, primary rays) for 64-bit ARM, whose Advanced SIMD (NEON)
// unit every AArch64 CPU has: no run-time check is needed there.
//
// The NEON arithmetic intrinsics are ordinary operators to the compiler, so
// here the build's ban on contraction (-ffp-contract=off) is what keeps a
// multiply and an add apart; Fma and Fnma are explicit fused instructions.

#include "app/ao_vector_entries.h"

#include <arm_neon.h>

#include <cstdint>

namespace AoBench {

namespace {

// 4 floats, or 2 doubles or 64-bit integers, per register; masks are lanes
// of all ones or all zeros.
struct TNeon {
    static constexpr int kLanes = 4;
    // The occlusion kernel's schedule: 16 rays per step, the four batches side
    // by side through every stage (32 registers hold them).
    static constexpr int kBatchesPerStep = 4;
    static constexpr int kBatchesTogether = 4;
    // Two angle vectors at a time: 68.5 instructions per ray under QEMU,
    // against 73.5 with 4 and 73.4 with 8 (all 32 registers then spill).
    static constexpr int kTrigTogether = 2;
    static constexpr bool kPackedMidpointTest = true;
    static constexpr bool kQuadrantInSingle = true;
    using F = float32x4_t;
    using FMask = uint32x4_t;
    using D = float64x2_t;
    using DMask = uint64x2_t;
    using Q = uint64x2_t;  // DMask and Q share a type: no operation is overloaded on both

    static F Set(float v) { return vdupq_n_f32(v); }
    static F Load(const float* p) { return vld1q_f32(p); }
    static void Store(float* p, F v) { vst1q_f32(p, v); }
    static F Add(F a, F b) { return vaddq_f32(a, b); }
    static F Sub(F a, F b) { return vsubq_f32(a, b); }
    static F Mul(F a, F b) { return vmulq_f32(a, b); }
    static F Div(F a, F b) { return vdivq_f32(a, b); }
    static F Sqrt(F a) { return vsqrtq_f32(a); }
    static F Negate(F a) { return vnegq_f32(a); }
    static FMask Less(F a, F b) { return vcltq_f32(a, b); }
    static FMask NotLess(F a, F b) { return vmvnq_u32(vcltq_f32(a, b)); }
    static FMask Greater(F a, F b) { return vcgtq_f32(a, b); }
    static FMask GreaterEqual(F a, F b) { return vcgeq_f32(a, b); }
    static FMask NotEqual(F a, F b) { return vmvnq_u32(vceqq_f32(a, b)); }
    static F Select(FMask m, F a, F b) { return vbslq_f32(m, a, b); }
    static FMask And(FMask a, FMask b) { return vandq_u32(a, b); }
    static FMask Or(FMask a, FMask b) { return vorrq_u32(a, b); }
    static FMask AndNot(FMask a, FMask b) { return vbicq_u32(a, b); }
    static FMask NoLanes() { return vdupq_n_u32(0); }
    static std::uint32_t Bits(FMask m) {
        static constexpr std::uint32_t kLaneBits[4] = {1, 2, 4, 8};
        return vaddvq_u32(vandq_u32(m, vld1q_u32(kLaneBits)));
    }
    // A flagged lane is all ones, -1 as an integer: the lanes' sum is minus the
    // count.
    static std::uint32_t CountLanes(FMask m) { return 0u - vaddvq_u32(m); }

    static D Set(double v) { return vdupq_n_f64(v); }
    static D Add(D a, D b) { return vaddq_f64(a, b); }
    static D Sub(D a, D b) { return vsubq_f64(a, b); }
    static D Mul(D a, D b) { return vmulq_f64(a, b); }
    static D Fma(D a, D b, D c) { return vfmaq_f64(c, a, b); }
    static D Fnma(D a, D b, D c) { return vfmsq_f64(c, a, b); }
    static D Select(DMask m, D a, D b) { return vbslq_f64(m, a, b); }
    static DMask NoLanes64() { return vdupq_n_u64(0); }
    static DMask Or(DMask a, DMask b) { return vorrq_u64(a, b); }
    static bool Any(DMask m) { return vmaxvq_u32(vreinterpretq_u32_u64(m)) != 0; }
    static DMask NotWithin(D x, double limit) {
        return vreinterpretq_u64_u32(
            vmvnq_u32(vreinterpretq_u32_u64(vcleq_f64(vabsq_f64(x), vdupq_n_f64(limit)))));
    }
    static D Load(const double* p) { return vld1q_f64(p); }
    static void Store(double* p, D v) { vst1q_f64(p, v); }
    static void StoreMask(std::uint64_t* p, DMask m) { vst1q_u64(p, m); }

    // 64-bit integers and the bits of doubles.
    static Q Set64(std::uint64_t v) { return vdupq_n_u64(v); }
    static Q Load64(const std::uint64_t* p) { return vld1q_u64(p); }
    static Q Add64(Q a, Q b) { return vaddq_u64(a, b); }
    // The generator's multipliers as MulLow48 takes them: their 32-bit halves
    // swapped, high half below.
    static constexpr std::uint64_t JumpOperand(std::uint64_t a) { return a << 32 | a >> 32; }
    // The low 64 bits of s * a (more than the kernel needs), for a multiplier
    // in the form of JumpOperand: the low halves' full product plus the sum
    // of the two cross products (mod 2^32) shifted up. One 32-bit multiply
    // of s's halves by a's swapped ones forms both cross products in place,
    // and a pairwise widening add sums them.
    static Q MulLow48(Q s, Q a) {
        const uint32x4_t cross = vmulq_u32(vreinterpretq_u32_u64(s), vreinterpretq_u32_u64(a));
        const uint64x2_t low = vmull_u32(vmovn_u64(s), vshrn_n_u64(a, 32));
        return vaddq_u64(low, vshlq_n_u64(vpaddlq_u32(cross), 32));
    }
    static Q And(Q a, Q b) { return vandq_u64(a, b); }
    static Q ShiftLeft62(Q a) { return vshlq_n_u64(a, 62); }
    static DMask NoBitsOf64(Q a, std::uint64_t bits) { return vceqzq_u64(vandq_u64(a, vdupq_n_u64(bits))); }
    static DMask LowBitSet(Q a) { return vtstq_u64(a, vdupq_n_u64(1)); }
    static Q AsBits(D a) { return vreinterpretq_u64_f64(a); }
    static D XorBits(D a, Q bits) { return vreinterpretq_f64_u64(veorq_u64(vreinterpretq_u64_f64(a), bits)); }

    // 32-bit integers and the bits of floats (I and FMask share a type: no
    // operation is overloaded on both).
    using I = uint32x4_t;
    static I AsInt(F a) { return vreinterpretq_u32_f32(a); }
    static F AsFloat(I a) { return vreinterpretq_f32_u32(a); }
    static I Set32(std::uint32_t v) { return vdupq_n_u32(v); }
    static I Add32(I a, I b) { return vaddq_u32(a, b); }
    static I Sub32(I a, I b) { return vsubq_u32(a, b); }
    static I And32(I a, I b) { return vandq_u32(a, b); }
    static I Or32(I a, I b) { return vorrq_u32(a, b); }
    static I Xor32(I a, I b) { return veorq_u32(a, b); }
    template <int kShift>
    static I ShiftLeft32(I a) {
        return vshlq_n_u32(a, kShift);
    }
    static FMask Equal32(I a, I b) { return vceqq_u32(a, b); }
    static FMask NoBits32(I a, I bits) { return vceqzq_u32(vandq_u32(a, bits)); }
    static FMask LowBitSet32(I a) { return vtstq_u32(a, vdupq_n_u32(1)); }
    static bool Any(FMask m) { return vmaxvq_u32(m) != 0; }
    static F XorBits(F a, I bits) { return vreinterpretq_f32_u32(veorq_u32(vreinterpretq_u32_f32(a), bits)); }
    static I LowHalves(Q low, Q high) {
        return vuzp1q_u32(vreinterpretq_u32_u64(low), vreinterpretq_u32_u64(high));
    }
    static I LowHalvesUnordered(Q a, Q b) { return LowHalves(a, b); }

    // Bits 16..47 of each generator state, the draw, as an exact double (it is
    // below 2^32, so the conversion does not round).
    static D DrawToDouble(Q state) {
        return vcvtq_f64_u64(vandq_u64(vshrq_n_u64(state, 16), vdupq_n_u64(0xFFFFFFFFu)));
    }
    // u * scale rounded once to double (the draw converts exactly).
    static D DrawTimes(Q state, double scale) { return Mul(DrawToDouble(state), Set(scale)); }
    static F ToFloat(D low, D high) { return vcvt_high_f32_f64(vcvt_f32_f64(low), high); }
    // r1 = u1 * 2^-32 for all 4 lanes: the draws narrowed into 32-bit lanes,
    // converted with one rounding (the same as rounding the exact double) and
    // scaled exactly.
    static F DrawsToUnitFloat(Q low, Q high) {
        const uint32x4_t draws = vshrn_high_n_u64(vshrn_n_u64(low, 16), high, 16);
        return vmulq_f32(vcvtq_f32_u32(draws), vdupq_n_f32(0x1p-32f));
    }
    static D RoundToFloat(D a) { return vcvt_f64_f32(vcvt_f32_f64(a)); }
    static D WidenFloats(const float* p) { return vcvt_f64_f32(vld1_f32(p)); }
};

static_assert(AoVectorKernel::AoVectorOps<TNeon>);

}  // namespace

extern const TAoPathEntries kNeonPathEntries = AoVectorKernel::PathEntries<TNeon>(TAoPath::Neon);

}  // namespace AoBench
