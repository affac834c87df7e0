// ao_vector_simd128.cpp - the 4-lane paths of the AO kernel (occlusion rays,
// cosine and sine, primary rays) for WebAssembly with its 128-bit SIMD
// instructions, the only unit built with them. WebAssembly has no run-time
// feature test: an engine without SIMD refuses the whole module, so a build
// that holds this unit runs it wherever it loads at all (the web page keeps
// a build without it for such engines).
//
// SIMD128 has no fused multiply-add (relaxed SIMD's may or may not fuse,
// engine by engine), so the unit leaves Fma and Fnma out and the cosine and
// sine take their unfused route (see vector_trig.h).

#include "app/ao_vector_entries.h"

#include <wasm_simd128.h>

#include <cstdint>

namespace AoBench {

namespace {

// 4 floats, or 2 doubles or 64-bit integers, per register; masks are lanes
// of all ones or all zeros. Each kind of lane has a vector type of its own,
// so that the operations can be overloaded on them; all are the one v128
// type of WebAssembly, and the casts between them change no bits.
struct TSimd128 {
    static constexpr int kLanes = 4;
    static constexpr bool kFusedMultiplyAdd = false;
    // The occlusion kernel's schedule: 16 rays per step, two batches side by
    // side, four angle vectors through the cosine and sine at a time. V8 on
    // x86-64 keeps SIMD values in 16 registers: this renders the picture on
    // one thread in about 68 ms under Node 20, against 89 with four batches
    // side by side and two angle vectors (NEON's schedule) and 76 with four
    // and four.
    static constexpr int kBatchesPerStep = 4;
    static constexpr int kBatchesTogether = 2;
    static constexpr int kTrigTogether = 4;
    static constexpr bool kPackedMidpointTest = true;
    static constexpr bool kQuadrantInSingle = true;
    using F = float __attribute__((__vector_size__(16), __aligned__(16)));
    using FMask = v128_t;  // 32-bit lanes
    using D = double __attribute__((__vector_size__(16), __aligned__(16)));
    using Q = std::uint64_t __attribute__((__vector_size__(16), __aligned__(16)));
    using DMask = Q;  // DMask and Q share a type: no operation is overloaded on both
    using I = std::uint32_t __attribute__((__vector_size__(16), __aligned__(16)));

    static v128_t Raw(F a) { return reinterpret_cast<v128_t>(a); }
    static v128_t Raw(D a) { return reinterpret_cast<v128_t>(a); }
    static v128_t Raw(Q a) { return reinterpret_cast<v128_t>(a); }
    static v128_t Raw(I a) { return reinterpret_cast<v128_t>(a); }
    static F AsF(v128_t a) { return reinterpret_cast<F>(a); }
    static D AsD(v128_t a) { return reinterpret_cast<D>(a); }
    static Q AsQ(v128_t a) { return reinterpret_cast<Q>(a); }
    static I AsI(v128_t a) { return reinterpret_cast<I>(a); }

    static F Set(float v) { return AsF(wasm_f32x4_splat(v)); }
    static F Load(const float* p) { return AsF(wasm_v128_load(p)); }
    static void Store(float* p, F v) { wasm_v128_store(p, Raw(v)); }
    static F Add(F a, F b) { return AsF(wasm_f32x4_add(Raw(a), Raw(b))); }
    static F Sub(F a, F b) { return AsF(wasm_f32x4_sub(Raw(a), Raw(b))); }
    static F Mul(F a, F b) { return AsF(wasm_f32x4_mul(Raw(a), Raw(b))); }
    static F Div(F a, F b) { return AsF(wasm_f32x4_div(Raw(a), Raw(b))); }
    static F Sqrt(F a) { return AsF(wasm_f32x4_sqrt(Raw(a))); }
    static F Negate(F a) { return AsF(wasm_f32x4_neg(Raw(a))); }
    static FMask Less(F a, F b) { return wasm_f32x4_lt(Raw(a), Raw(b)); }
    static FMask NotLess(F a, F b) { return wasm_v128_not(wasm_f32x4_lt(Raw(a), Raw(b))); }
    static FMask Greater(F a, F b) { return wasm_f32x4_gt(Raw(a), Raw(b)); }
    static FMask GreaterEqual(F a, F b) { return wasm_f32x4_ge(Raw(a), Raw(b)); }
    static FMask NotEqual(F a, F b) { return wasm_f32x4_ne(Raw(a), Raw(b)); }
    static F Select(FMask m, F a, F b) { return AsF(wasm_v128_bitselect(Raw(a), Raw(b), m)); }
    static FMask And(FMask a, FMask b) { return wasm_v128_and(a, b); }
    static FMask Or(FMask a, FMask b) { return wasm_v128_or(a, b); }
    static FMask AndNot(FMask a, FMask b) { return wasm_v128_andnot(a, b); }
    static FMask NoLanes() { return wasm_i32x4_splat(0); }
    static std::uint32_t Bits(FMask m) { return wasm_i32x4_bitmask(m); }
    static std::uint32_t CountLanes(FMask m) {
        return static_cast<std::uint32_t>(__builtin_popcount(wasm_i32x4_bitmask(m)));
    }
    static bool Any(FMask m) { return wasm_v128_any_true(m); }

    static D Set(double v) { return AsD(wasm_f64x2_splat(v)); }
    static D Add(D a, D b) { return AsD(wasm_f64x2_add(Raw(a), Raw(b))); }
    static D Sub(D a, D b) { return AsD(wasm_f64x2_sub(Raw(a), Raw(b))); }
    static D Mul(D a, D b) { return AsD(wasm_f64x2_mul(Raw(a), Raw(b))); }
    static D Select(DMask m, D a, D b) { return AsD(wasm_v128_bitselect(Raw(a), Raw(b), Raw(m))); }
    static DMask NoLanes64() { return AsQ(wasm_i64x2_splat(0)); }
    static DMask Or(DMask a, DMask b) { return AsQ(wasm_v128_or(Raw(a), Raw(b))); }
    static bool Any(DMask m) { return wasm_v128_any_true(Raw(m)); }
    static DMask NotWithin(D x, double limit) {
        return AsQ(wasm_v128_not(wasm_f64x2_le(wasm_f64x2_abs(Raw(x)), wasm_f64x2_splat(limit))));
    }
    static D Load(const double* p) { return AsD(wasm_v128_load(p)); }
    static void Store(double* p, D v) { wasm_v128_store(p, Raw(v)); }
    static void StoreMask(std::uint64_t* p, DMask m) { wasm_v128_store(p, Raw(m)); }

    // 64-bit integers and the bits of doubles.
    static Q Set64(std::uint64_t v) { return AsQ(wasm_u64x2_splat(v)); }
    static Q Load64(const std::uint64_t* p) { return AsQ(wasm_v128_load(p)); }
    static Q Add64(Q a, Q b) { return AsQ(wasm_i64x2_add(Raw(a), Raw(b))); }
    // The multipliers as they are: MulLow48 is a full 64-bit multiply.
    static constexpr std::uint64_t JumpOperand(std::uint64_t a) { return a; }
    static Q MulLow48(Q s, Q a) { return AsQ(wasm_i64x2_mul(Raw(s), Raw(a))); }
    static Q And(Q a, Q b) { return AsQ(wasm_v128_and(Raw(a), Raw(b))); }
    static Q ShiftLeft62(Q a) { return AsQ(wasm_i64x2_shl(Raw(a), 62)); }
    static DMask NoBitsOf64(Q a, std::uint64_t bits) {
        return AsQ(wasm_i64x2_eq(wasm_v128_and(Raw(a), wasm_u64x2_splat(bits)), wasm_i64x2_splat(0)));
    }
    // Bit 0 moved to the sign, then spread over the lane.
    static DMask LowBitSet(Q a) { return AsQ(wasm_i64x2_shr(wasm_i64x2_shl(Raw(a), 63), 63)); }
    static Q AsBits(D a) { return AsQ(Raw(a)); }
    static D XorBits(D a, Q bits) { return AsD(wasm_v128_xor(Raw(a), Raw(bits))); }

    // 32-bit integers and the bits of floats.
    static I AsInt(F a) { return AsI(Raw(a)); }
    static F AsFloat(I a) { return AsF(Raw(a)); }
    static I Set32(std::uint32_t v) { return AsI(wasm_u32x4_splat(v)); }
    static I Add32(I a, I b) { return AsI(wasm_i32x4_add(Raw(a), Raw(b))); }
    static I Sub32(I a, I b) { return AsI(wasm_i32x4_sub(Raw(a), Raw(b))); }
    static I And32(I a, I b) { return AsI(wasm_v128_and(Raw(a), Raw(b))); }
    static I Or32(I a, I b) { return AsI(wasm_v128_or(Raw(a), Raw(b))); }
    static I Xor32(I a, I b) { return AsI(wasm_v128_xor(Raw(a), Raw(b))); }
    template <int kShift>
    static I ShiftLeft32(I a) {
        return AsI(wasm_i32x4_shl(Raw(a), kShift));
    }
    static FMask Equal32(I a, I b) { return wasm_i32x4_eq(Raw(a), Raw(b)); }
    static FMask NoBits32(I a, I bits) {
        return wasm_i32x4_eq(wasm_v128_and(Raw(a), Raw(bits)), wasm_i32x4_splat(0));
    }
    static FMask LowBitSet32(I a) { return wasm_i32x4_shr(wasm_i32x4_shl(Raw(a), 31), 31); }
    static F XorBits(F a, I bits) { return AsF(wasm_v128_xor(Raw(a), Raw(bits))); }
    static I LowHalves(Q low, Q high) { return AsI(wasm_i32x4_shuffle(Raw(low), Raw(high), 0, 2, 4, 6)); }
    static I LowHalvesUnordered(Q a, Q b) { return LowHalves(a, b); }

    // Bits 16..47 of each generator state, the draw, as an exact double: the
    // low 32-bit halves of the shifted states, converted (below 2^32, so the
    // conversion does not round).
    static D DrawToDouble(Q state) {
        const v128_t shifted = wasm_u64x2_shr(Raw(state), 16);
        return AsD(wasm_f64x2_convert_low_u32x4(wasm_i32x4_shuffle(shifted, shifted, 0, 2, 0, 2)));
    }
    // u * scale rounded once to double (the draw converts exactly).
    static D DrawTimes(Q state, double scale) { return Mul(DrawToDouble(state), Set(scale)); }
    static F ToFloat(D low, D high) {
        return AsF(wasm_i32x4_shuffle(wasm_f32x4_demote_f64x2_zero(Raw(low)),
                                      wasm_f32x4_demote_f64x2_zero(Raw(high)), 0, 1, 4, 5));
    }
    // r1 = u1 * 2^-32 for all 4 lanes: the draws gathered into 32-bit lanes,
    // converted with one rounding (the same as rounding the exact double) and
    // scaled exactly.
    static F DrawsToUnitFloat(Q low, Q high) {
        const v128_t draws =
            wasm_i32x4_shuffle(wasm_u64x2_shr(Raw(low), 16), wasm_u64x2_shr(Raw(high), 16), 0, 2, 4, 6);
        return AsF(wasm_f32x4_mul(wasm_f32x4_convert_u32x4(draws), wasm_f32x4_splat(0x1p-32f)));
    }
    static D RoundToFloat(D a) {
        return AsD(wasm_f64x2_promote_low_f32x4(wasm_f32x4_demote_f64x2_zero(Raw(a))));
    }
    static D WidenFloats(const float* p) {
        return AsD(wasm_f64x2_promote_low_f32x4(wasm_v128_load64_zero(p)));
    }
};

static_assert(AoVectorKernel::AoVectorOps<TSimd128>);

}  // namespace

extern const TAoPathEntries kSimd128PathEntries = AoVectorKernel::PathEntries<TSimd128>(TAoPath::Simd128);

}  // namespace AoBench
