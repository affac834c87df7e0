// ao_vector_avx512.cpp - the 16-lane paths of the AO kernel (occlusion rays,
// cosine and sine, primary rays) for CPUs with AVX-512 F and DQ. This unit
// alone is compiled for those extensions, and it is called only after the
// CPU has been checked for them.

#include "app/ao_vector_entries.h"

#if defined(KAV_AO_AVX512_EMULATED)
// A test build: the same unit compiled for AVX2 and FMA, its AVX-512
// intrinsics emulated by SIMDe, so that CPUs without AVX-512 test this path
// too (the avx512-emulated preset). FMA stays native: the emulation of a
// fused operation must not round twice.
#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx512.h>
#else
// GCC 12's AVX-512 header initialises its "undefined" vectors from
// themselves, which its own uninitialised-use warnings then report.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

#include <climits>
#include <cstdint>

namespace AoBench {

namespace {

#if defined(KAV_AO_AVX512_EMULATED)
// The conversions, each rounded once, from AVX's 256-bit ones: SIMDe lacks
// some and rounds others twice on CPUs without AVX-512.
__m256 ConvertToFloats(__m512d a) {
    return _mm256_set_m128(_mm256_cvtpd_ps(_mm512_extractf64x4_pd(a, 1)),
                           _mm256_cvtpd_ps(_mm512_castpd512_pd256(a)));
}
__m512d ConvertToDoubles(__m256 a) {
    return _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_cvtps_pd(_mm256_castps256_ps128(a))),
                              _mm256_cvtps_pd(_mm256_extractf128_ps(a, 1)), 1);
}
// Below 2^32, exactly: the bits below 2^52's exponent, less 2^52.
__m256d SmallToDouble(__m256i a) {
    return _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(a, _mm256_set1_epi64x(0x4330000000000000))),
                         _mm256_set1_pd(0x1p52));
}
// high * 2^32 + low, fused: exact before its one rounding.
__m256d U64ToDoubles(__m256i a) {
    const __m256i low = _mm256_and_si256(a, _mm256_set1_epi64x(0xFFFFFFFF));
    return _mm256_fmadd_pd(SmallToDouble(_mm256_srli_epi64(a, 32)), _mm256_set1_pd(0x1p32),
                           SmallToDouble(low));
}
__m512d ConvertU64ToDoubles(__m512i a) {
    return _mm512_insertf64x4(_mm512_castpd256_pd512(U64ToDoubles(_mm512_castsi512_si256(a))),
                              U64ToDoubles(_mm512_extracti64x4_epi64(a, 1)), 1);
}
// Each exactly to double (signed, offset by 2^31), then rounded once.
__m128 U32ToFloats(__m128i a) {
    const __m256d shifted = _mm256_cvtepi32_pd(_mm_xor_si128(a, _mm_set1_epi32(INT32_MIN)));
    return _mm256_cvtpd_ps(_mm256_add_pd(shifted, _mm256_set1_pd(0x1p31)));
}
__m512 ConvertU32ToFloats(__m512i a) {
    const __m256i low = _mm512_castsi512_si256(a);
    const __m256i high = _mm512_extracti64x4_epi64(a, 1);
    const __m256 lowFloats = _mm256_set_m128(U32ToFloats(_mm256_extracti128_si256(low, 1)),
                                             U32ToFloats(_mm256_castsi256_si128(low)));
    const __m256 highFloats = _mm256_set_m128(U32ToFloats(_mm256_extracti128_si256(high, 1)),
                                              U32ToFloats(_mm256_castsi256_si128(high)));
    return _mm512_insertf32x8(_mm512_castps256_ps512(lowFloats), highFloats, 1);
}
#else
__m256 ConvertToFloats(__m512d a) { return _mm512_cvtpd_ps(a); }
__m512d ConvertToDoubles(__m256 a) { return _mm512_cvtps_pd(a); }
__m512d ConvertU64ToDoubles(__m512i a) { return _mm512_cvtepu64_pd(a); }
__m512 ConvertU32ToFloats(__m512i a) { return _mm512_cvtepu32_ps(a); }
#endif

// 16 floats, or 8 doubles or 64-bit integers, per register; masks are the
// mask registers' bits.
struct TAvx512 {
    static constexpr int kLanes = 16;
    // The occlusion kernel's schedule: a shaded point's 64 rays in one step,
    // their geometry two batches at a time (four at a time run short of mask
    // registers and spill).
    static constexpr int kBatchesPerStep = 4;
    static constexpr int kBatchesTogether = 2;
    static constexpr int kTrigTogether = 4;
    static constexpr bool kPackedMidpointTest = true;
    static constexpr bool kQuadrantInSingle = true;
    using F = __m512;
    using FMask = __mmask16;
    using D = __m512d;
    using DMask = __mmask8;
    using Q = __m512i;

    static F Set(float v) { return _mm512_set1_ps(v); }
    static F Load(const float* p) { return _mm512_loadu_ps(p); }
    static void Store(float* p, F v) { _mm512_storeu_ps(p, v); }
    static F Add(F a, F b) { return _mm512_add_ps(a, b); }
    static F Sub(F a, F b) { return _mm512_sub_ps(a, b); }
    static F Mul(F a, F b) { return _mm512_mul_ps(a, b); }
    static F Div(F a, F b) { return _mm512_div_ps(a, b); }
    static F Sqrt(F a) { return _mm512_sqrt_ps(a); }
    static F Negate(F a) { return _mm512_xor_ps(a, _mm512_set1_ps(-0.0f)); }
    static FMask Less(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ); }
    static FMask NotLess(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_NLT_UQ); }
    static FMask Greater(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ); }
    static FMask GreaterEqual(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GE_OQ); }
    static FMask NotEqual(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_NEQ_UQ); }
    static F Select(FMask m, F a, F b) { return _mm512_mask_blend_ps(m, b, a); }
    static FMask And(FMask a, FMask b) { return static_cast<FMask>(a & b); }
    static FMask Or(FMask a, FMask b) { return static_cast<FMask>(a | b); }
    static FMask AndNot(FMask a, FMask b) { return static_cast<FMask>(a & ~b); }
    static FMask NoLanes() { return 0; }
    static std::uint32_t Bits(FMask m) { return m; }
    static std::uint32_t CountLanes(FMask m) { return static_cast<std::uint32_t>(__builtin_popcount(m)); }

    static D Set(double v) { return _mm512_set1_pd(v); }
    static D Add(D a, D b) { return _mm512_add_pd(a, b); }
    static D Sub(D a, D b) { return _mm512_sub_pd(a, b); }
    static D Mul(D a, D b) { return _mm512_mul_pd(a, b); }
    static D Fma(D a, D b, D c) { return _mm512_fmadd_pd(a, b, c); }
    static D Fnma(D a, D b, D c) { return _mm512_fnmadd_pd(a, b, c); }
    static D Select(DMask m, D a, D b) { return _mm512_mask_blend_pd(m, b, a); }
    static DMask NoLanes64() { return 0; }
    static DMask Or(DMask a, DMask b) { return static_cast<DMask>(a | b); }
    static bool Any(DMask m) { return m != 0; }
    static DMask NotWithin(D x, double limit) {
        return _mm512_cmp_pd_mask(_mm512_abs_pd(x), _mm512_set1_pd(limit), _CMP_NLE_UQ);
    }
    static D Load(const double* p) { return _mm512_loadu_pd(p); }
    static void Store(double* p, D v) { _mm512_storeu_pd(p, v); }
    static void StoreMask(std::uint64_t* p, DMask m) {
        _mm512_storeu_si512(p, _mm512_maskz_set1_epi64(m, -1));
    }

    // 64-bit integers and the bits of doubles.
    static Q Set64(std::uint64_t v) { return _mm512_set1_epi64(static_cast<long long>(v)); }
    static Q Load64(const std::uint64_t* p) { return _mm512_loadu_si512(p); }
    static Q Add64(Q a, Q b) { return _mm512_add_epi64(a, b); }
    static Q Mul64(Q a, Q b) { return _mm512_mullo_epi64(a, b); }
    // The multipliers are used as they are, and products are exact in all
    // 64 bits.
    static constexpr std::uint64_t JumpOperand(std::uint64_t a) { return a; }
    static Q MulLow48(Q s, Q a) { return Mul64(s, a); }
    static Q And(Q a, Q b) { return _mm512_and_si512(a, b); }
    static Q ShiftLeft62(Q a) { return _mm512_slli_epi64(a, 62); }
    static DMask NoBitsOf64(Q a, std::uint64_t bits) { return _mm512_testn_epi64_mask(a, Set64(bits)); }
    static DMask LowBitSet(Q a) { return _mm512_test_epi64_mask(a, Set64(1)); }
    static Q AsBits(D a) { return _mm512_castpd_si512(a); }
    static D XorBits(D a, Q bits) {
        return _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(a), bits));
    }

    // 32-bit integers and the bits of floats.
    using I = __m512i;
    static I AsInt(F a) { return _mm512_castps_si512(a); }
    static F AsFloat(I a) { return _mm512_castsi512_ps(a); }
    static I Set32(std::uint32_t v) { return _mm512_set1_epi32(static_cast<int>(v)); }
    static I Add32(I a, I b) { return _mm512_add_epi32(a, b); }
    static I Sub32(I a, I b) { return _mm512_sub_epi32(a, b); }
    static I And32(I a, I b) { return _mm512_and_si512(a, b); }
    static I Or32(I a, I b) { return _mm512_or_si512(a, b); }
    static I Xor32(I a, I b) { return _mm512_xor_si512(a, b); }
    template <int kShift>
    static I ShiftLeft32(I a) {
        return _mm512_slli_epi32(a, kShift);
    }
    static FMask Equal32(I a, I b) { return _mm512_cmpeq_epi32_mask(a, b); }
    static FMask NoBits32(I a, I bits) {
#if defined(KAV_AO_AVX512_EMULATED)
        return _mm512_cmpeq_epi32_mask(_mm512_and_si512(a, bits),
                                       _mm512_setzero_si512());  // SIMDe lacks testn
#else
        return _mm512_testn_epi32_mask(a, bits);
#endif
    }
    static FMask LowBitSet32(I a) { return _mm512_test_epi32_mask(a, Set32(1)); }
    static bool Any(FMask m) { return m != 0; }
    static F XorBits(F a, I bits) { return AsFloat(_mm512_xor_si512(AsInt(a), bits)); }
    static I LowHalves(Q low, Q high) {
        const __m512i evenWords =
            _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
        return _mm512_permutex2var_epi32(low, evenWords, high);
    }
    static I LowHalvesUnordered(Q a, Q b) { return LowHalves(a, b); }

    // Bits 16..47 of each generator state, the draw, as an exact double.
    static D DrawToDouble(Q state) {
        return ConvertU64ToDoubles(_mm512_and_si512(_mm512_srli_epi64(state, 16), Set64(0xFFFFFFFFu)));
    }
    // u * scale rounded once to double (the draw converts exactly).
    static D DrawTimes(Q state, double scale) { return Mul(DrawToDouble(state), Set(scale)); }
    static F ToFloat(D low, D high) {
        return _mm512_insertf32x8(_mm512_castps256_ps512(ConvertToFloats(low)), ConvertToFloats(high), 1);
    }
    // r1 = u1 * 2^-32 for all 16 lanes: the draws gathered into 32-bit lanes,
    // converted with one rounding (the same as rounding the exact double) and
    // scaled exactly.
    static F DrawsToUnitFloat(Q low, Q high) {
        const __m512i evenWords =
            _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
        const __m512i draws =
            _mm512_permutex2var_epi32(_mm512_srli_epi64(low, 16), evenWords, _mm512_srli_epi64(high, 16));
        return _mm512_mul_ps(ConvertU32ToFloats(draws), _mm512_set1_ps(0x1p-32f));
    }
    static D RoundToFloat(D a) { return ConvertToDoubles(ConvertToFloats(a)); }
    static D WidenFloats(const float* p) { return ConvertToDoubles(_mm256_loadu_ps(p)); }
};

static_assert(AoVectorKernel::AoVectorOps<TAvx512>);

}  // namespace

extern const TAoPathEntries kAvx512PathEntries = AoVectorKernel::PathEntries<TAvx512>(TAoPath::Avx512);

}  // namespace AoBench
