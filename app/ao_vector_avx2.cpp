// ao_vector_avx2.cpp - the 8-lane paths of the AO kernel (occlusion rays,
// cosine and sine, primary rays) for CPUs with AVX2 and FMA. This unit alone
// is compiled for those extensions, and it is called only after the CPU has
// been checked for them.

#include "app/ao_vector_entries.h"

#include <immintrin.h>

#include <cstdint>

namespace AoBench {

namespace {

// 8 floats, or 4 doubles or 64-bit integers, per register. A mask lane's
// flag is its sign bit, which is all that blends, movemask and the logic
// operations need.
struct TAvx2 {
    static constexpr int kLanes = 8;
    // The occlusion kernel's schedule: 32 rays per step, all four batches side
    // by side through every stage (measured fastest, despite some spilling of
    // the 16 registers).
    static constexpr int kBatchesPerStep = 4;
    static constexpr int kBatchesTogether = 4;
    static constexpr int kTrigTogether = 2;
    static constexpr bool kPackedMidpointTest = true;
    static constexpr bool kQuadrantInSingle = true;
    using F = __m256;
    using FMask = __m256;
    using D = __m256d;
    using DMask = __m256d;
    using Q = __m256i;

    static F Set(float v) { return _mm256_set1_ps(v); }
    static F Load(const float* p) { return _mm256_loadu_ps(p); }
    static void Store(float* p, F v) { _mm256_storeu_ps(p, v); }
    static F Add(F a, F b) { return _mm256_add_ps(a, b); }
    static F Sub(F a, F b) { return _mm256_sub_ps(a, b); }
    static F Mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F Div(F a, F b) { return _mm256_div_ps(a, b); }
    static F Sqrt(F a) { return _mm256_sqrt_ps(a); }
    static F Negate(F a) { return _mm256_xor_ps(a, _mm256_set1_ps(-0.0f)); }
    static FMask Less(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
    static FMask NotLess(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_NLT_UQ); }
    static FMask Greater(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
    static FMask GreaterEqual(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
    static FMask NotEqual(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_NEQ_UQ); }
    static F Select(FMask m, F a, F b) { return _mm256_blendv_ps(b, a, m); }
    static FMask And(FMask a, FMask b) { return _mm256_and_ps(a, b); }
    static FMask Or(FMask a, FMask b) { return _mm256_or_ps(a, b); }
    static FMask AndNot(FMask a, FMask b) { return _mm256_andnot_ps(b, a); }
    static FMask NoLanes() { return _mm256_setzero_ps(); }
    static std::uint32_t Bits(FMask m) { return static_cast<std::uint32_t>(_mm256_movemask_ps(m)); }
    static std::uint32_t CountLanes(FMask m) {
        return static_cast<std::uint32_t>(__builtin_popcount(Bits(m)));
    }

    static D Set(double v) { return _mm256_set1_pd(v); }
    static D Add(D a, D b) { return _mm256_add_pd(a, b); }
    static D Sub(D a, D b) { return _mm256_sub_pd(a, b); }
    static D Mul(D a, D b) { return _mm256_mul_pd(a, b); }
    static D Fma(D a, D b, D c) { return _mm256_fmadd_pd(a, b, c); }
    static D Fnma(D a, D b, D c) { return _mm256_fnmadd_pd(a, b, c); }
    static D Select(DMask m, D a, D b) { return _mm256_blendv_pd(b, a, m); }
    static DMask NoLanes64() { return _mm256_setzero_pd(); }
    static DMask Or(DMask a, DMask b) { return _mm256_or_pd(a, b); }
    static bool Any(DMask m) { return _mm256_movemask_ps(_mm256_castpd_ps(m)) != 0; }
    static DMask NotWithin(D x, double limit) {
        const D magnitude = _mm256_andnot_pd(_mm256_set1_pd(-0.0), x);
        return _mm256_cmp_pd(magnitude, _mm256_set1_pd(limit), _CMP_NLE_UQ);
    }
    static D Load(const double* p) { return _mm256_loadu_pd(p); }
    static void Store(double* p, D v) { _mm256_storeu_pd(p, v); }
    static void StoreMask(std::uint64_t* p, DMask m) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_castpd_si256(m));
    }

    // 64-bit integers and the bits of doubles.
    static Q Set64(std::uint64_t v) { return _mm256_set1_epi64x(static_cast<long long>(v)); }
    static Q Load64(const std::uint64_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    static Q Add64(Q a, Q b) { return _mm256_add_epi64(a, b); }
    // The generator's multipliers as MulLow48 takes them: the low 32 bits as
    // they are, and above them the 16-bit words a2 = bits 32..47 and
    // a0 = bits 0..15, in that order.
    static constexpr std::uint64_t JumpOperand(std::uint64_t a) {
        return (a & 0xFFFFFFFFu) | ((a >> 32) & 0xFFFFu) << 32 | (a & 0xFFFFu) << 48;
    }
    // Bits 0..47 of s * a (the bits above unspecified), for a multiplier a in
    // the form of JumpOperand. With s = s2 * 2^32 + (s1 * 2^16 + s0) in
    // 16-bit words, and a alike, s * a mod 2^48 is the 64-bit product of the
    // low 32-bit halves plus (s0 * a2 + s2 * a0) * 2^32, of which only the
    // low 16 bits of the sum matter. One word multiply-add forms that sum in
    // the high half of each lane, from s's words s0 and s2 moved up beside
    // a2 and a0 and zeros below them; the signed products agree with the
    // unsigned ones mod 2^16.
    static Q MulLow48(Q s, Q a) {
        const Q words = _mm256_shuffle_epi8(
            s, _mm256_setr_epi8(-1, -1, -1, -1, 0, 1, 4, 5, -1, -1, -1, -1, 8, 9, 12, 13,  //
                                -1, -1, -1, -1, 0, 1, 4, 5, -1, -1, -1, -1, 8, 9, 12, 13));
        return _mm256_add_epi64(_mm256_mul_epu32(s, a), _mm256_madd_epi16(words, a));
    }
    static Q And(Q a, Q b) { return _mm256_and_si256(a, b); }
    static Q ShiftLeft62(Q a) { return _mm256_slli_epi64(a, 62); }
    static DMask NoBitsOf64(Q a, std::uint64_t bits) {
        return _mm256_castsi256_pd(
            _mm256_cmpeq_epi64(_mm256_and_si256(a, Set64(bits)), _mm256_setzero_si256()));
    }
    static DMask LowBitSet(Q a) {
        return _mm256_castsi256_pd(_mm256_cmpeq_epi64(_mm256_and_si256(a, Set64(1)), Set64(1)));
    }
    static Q AsBits(D a) { return _mm256_castpd_si256(a); }
    static D XorBits(D a, Q bits) {
        return _mm256_castsi256_pd(_mm256_xor_si256(_mm256_castpd_si256(a), bits));
    }

    // 32-bit integers and the bits of floats.
    using I = __m256i;
    static I AsInt(F a) { return _mm256_castps_si256(a); }
    static F AsFloat(I a) { return _mm256_castsi256_ps(a); }
    static I Set32(std::uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
    static I Add32(I a, I b) { return _mm256_add_epi32(a, b); }
    static I Sub32(I a, I b) { return _mm256_sub_epi32(a, b); }
    static I And32(I a, I b) { return _mm256_and_si256(a, b); }
    static I Or32(I a, I b) { return _mm256_or_si256(a, b); }
    static I Xor32(I a, I b) { return _mm256_xor_si256(a, b); }
    template <int kShift>
    static I ShiftLeft32(I a) {
        return _mm256_slli_epi32(a, kShift);
    }
    static FMask Equal32(I a, I b) { return AsFloat(_mm256_cmpeq_epi32(a, b)); }
    static FMask NoBits32(I a, I bits) { return Equal32(And32(a, bits), _mm256_setzero_si256()); }
    // Bit 0 moved into the sign bit, which is all Select, Bits and the logic
    // operations read.
    static FMask LowBitSet32(I a) { return AsFloat(ShiftLeft32<31>(a)); }
    static bool Any(FMask m) { return _mm256_movemask_ps(m) != 0; }
    static F XorBits(F a, I bits) { return _mm256_xor_ps(a, AsFloat(bits)); }
    static I LowHalves(Q low, Q high) {
        return _mm256_castpd_si256(
            _mm256_permute4x64_pd(_mm256_castsi256_pd(LowHalvesUnordered(low, high)), 0xD8));
    }
    static I LowHalvesUnordered(Q a, Q b) {
        return _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), 0x88));
    }

    // The draw u (bits 16..47 of each generator state) placed in the low
    // mantissa bits of the double 2^52 (exponent word 0x43300000), which is
    // then 2^52 + u exactly; the state's bits 48..63 are dropped.
    static D BiasedDraw(Q state) {
        return _mm256_castsi256_pd(
            _mm256_blend_epi32(_mm256_srli_epi64(state, 16), Set64(0x4330000000000000u), 0xAA));
    }
    // u * scale rounded once to double: (2^52 + u) * scale - 2^52 * scale
    // fused into one operation is exact before its rounding, for a scale
    // that 2^52 * scale represents exactly (a float's does).
    static D DrawTimes(Q state, double scale) {
        return _mm256_fmadd_pd(BiasedDraw(state), _mm256_set1_pd(scale), _mm256_set1_pd(-0x1p52 * scale));
    }
    static F ToFloat(D low, D high) {
        return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(low)), _mm256_cvtpd_ps(high), 1);
    }
    // r1 = u1 * 2^-32 for all 8 lanes, formed in double (exactly) and
    // rounded once.
    static F DrawsToUnitFloat(Q low, Q high) {
        return ToFloat(DrawTimes(low, 0x1p-32), DrawTimes(high, 0x1p-32));
    }
    static D RoundToFloat(D a) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(a)); }
    static D WidenFloats(const float* p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
};

static_assert(AoVectorKernel::AoVectorOps<TAvx2>);

}  // namespace

extern const TAoPathEntries kAvx2PathEntries = AoVectorKernel::PathEntries<TAvx2>(TAoPath::Avx2);

}  // namespace AoBench
