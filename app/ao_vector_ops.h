// ao_vector_ops.h - the operation set that the vector kernels are written
// over (ao_occlusion_kernel.h, ao_primary_kernel.h, ao_query_kernel.h,
// vector_trig.h): what each instruction set's unit must supply, and the
// exact meaning of every operation, stated here once.
//
// Lanes. F holds kLanes floats, I as many 32-bit integers, FMask one flag per
// float lane. D holds kLanes / 2 doubles, Q as many 64-bit integers, DMask one
// flag per double lane. Where a vector of kLanes values is formed from two
// of kLanes / 2 (its halves), the first half holds lanes 0 .. kLanes/2 - 1.
//
// Arithmetic. Every floating-point operation is the IEEE operation of its
// precision, rounded to nearest-even once: Add, Sub, Mul, Div and Sqrt
// correctly rounded, Fma (a * b + c) and Fnma (c - a * b) fused with a single
// rounding. A unit whose instruction set has no fused multiply-add (and that
// must not emulate one) declares kFusedMultiplyAdd false and leaves Fma and
// Fnma out; the code over V then takes an unfused route with the same exact
// results (see HasFusedMultiplyAdd and vector_trig.h). No other operation may
// be fused with its neighbours (the build forbids contraction), so a kernel
// written over V computes bit for bit what the scalar code with the same
// operations in the same order computes. NaN results are NaNs of any
// payload; nothing reads a payload. Signed zeros follow IEEE (x - x is +0,
// -0 + -0 is -0). Negate flips the sign bit alone, also of zeros and NaNs,
// like unary minus.
//
// Comparisons. Less, Greater, GreaterEqual are ordered: false where either
// operand is NaN, like C++'s <, > and >=. NotLess and NotEqual are their
// unordered negations: true where either is NaN, like !(a < b) and a != b.
//
// Masks. Made only by the comparisons and tests here and read only by
// Select, And, Or, AndNot, Bits, Any and StoreMask; a unit may keep a lane's
// flag in any bits of the lane that those read consistently. Select(m, a, b)
// is a where m is set and b elsewhere, bit for bit. Bits sets bit l for each
// flagged lane l; Any says whether any lane is flagged.
//
// Integers. Add64, Add32 and Sub32 wrap around; the shifts are logical and
// drop the bits shifted out. AsBits, AsInt, AsFloat reinterpret bits without
// changing them.

#pragma once

#include <concepts>
#include <cstdint>

namespace AoBench::AoVectorKernel {

// Whether V has Fma and Fnma: true unless V declares kFusedMultiplyAdd false.
template <class V>
inline constexpr bool HasFusedMultiplyAdd = true;
template <class V>
requires requires { V::kFusedMultiplyAdd; }
inline constexpr bool HasFusedMultiplyAdd<V> = static_cast<bool>(V::kFusedMultiplyAdd);

template <class V>
concept AoVectorOps = requires(typename V::F f, typename V::FMask fm, typename V::D d, typename V::DMask dm,
                               typename V::Q q, typename V::I i, float x, double y, std::uint32_t u32,
                               std::uint64_t u64, float* fp, double* dp, std::uint64_t* up) {
    // The schedule of the occlusion kernel: a step is kBatchesPerStep
    // batches of kLanes rays; kBatchesTogether batches go through the
    // geometry side by side and kTrigTogether vectors of angles through the
    // cosine and sine. kQuadrantInSingle and kPackedMidpointTest choose the
    // cheaper of two exact forms (see GroupCosSin) where the unit measured it
    // faster.
    requires V::kLanes >= 2 && V::kLanes % 2 == 0;
    requires V::kBatchesPerStep >= 1 && V::kBatchesPerStep % V::kBatchesTogether == 0;
    requires(2 * V::kBatchesTogether) % V::kTrigTogether == 0;
    { V::kQuadrantInSingle } -> std::convertible_to<bool>;
    { V::kPackedMidpointTest } -> std::convertible_to<bool>;

    // Floats: x in every lane; kLanes from or to unaligned memory.
    { V::Set(x) } -> std::same_as<typename V::F>;
    { V::Load(fp) } -> std::same_as<typename V::F>;
    V::Store(fp, f);
    { V::Add(f, f) } -> std::same_as<typename V::F>;
    { V::Sub(f, f) } -> std::same_as<typename V::F>;
    { V::Mul(f, f) } -> std::same_as<typename V::F>;
    { V::Div(f, f) } -> std::same_as<typename V::F>;
    { V::Sqrt(f) } -> std::same_as<typename V::F>;
    { V::Negate(f) } -> std::same_as<typename V::F>;
    { V::Less(f, f) } -> std::same_as<typename V::FMask>;
    { V::NotLess(f, f) } -> std::same_as<typename V::FMask>;
    { V::Greater(f, f) } -> std::same_as<typename V::FMask>;
    { V::GreaterEqual(f, f) } -> std::same_as<typename V::FMask>;
    { V::NotEqual(f, f) } -> std::same_as<typename V::FMask>;
    { V::Select(fm, f, f) } -> std::same_as<typename V::F>;
    { V::And(fm, fm) } -> std::same_as<typename V::FMask>;
    { V::Or(fm, fm) } -> std::same_as<typename V::FMask>;
    { V::AndNot(fm, fm) } -> std::same_as<typename V::FMask>;  // a and not b
    { V::NoLanes() } -> std::same_as<typename V::FMask>;
    { V::Bits(fm) } -> std::same_as<std::uint32_t>;
    { V::CountLanes(fm) } -> std::same_as<std::uint32_t>;  // how many lanes are flagged
    { V::Any(fm) } -> std::same_as<bool>;

    // Doubles.
    { V::Set(y) } -> std::same_as<typename V::D>;
    { V::Load(dp) } -> std::same_as<typename V::D>;
    V::Store(dp, d);
    { V::Add(d, d) } -> std::same_as<typename V::D>;
    { V::Sub(d, d) } -> std::same_as<typename V::D>;
    { V::Mul(d, d) } -> std::same_as<typename V::D>;
    requires(!HasFusedMultiplyAdd<V>) || requires(typename V::D a) {
        { V::Fma(a, a, a) } -> std::same_as<typename V::D>;
        { V::Fnma(a, a, a) } -> std::same_as<typename V::D>;
    };
    { V::Select(dm, d, d) } -> std::same_as<typename V::D>;
    { V::Or(dm, dm) } -> std::same_as<typename V::DMask>;
    { V::NoLanes64() } -> std::same_as<typename V::DMask>;
    { V::Any(dm) } -> std::same_as<bool>;
    { V::NotWithin(d, y) } -> std::same_as<typename V::DMask>;  // |x| > limit, or NaN
    V::StoreMask(up, dm);  // all ones in a flagged lane's word, zero elsewhere

    // 64-bit integers and the bits of doubles.
    { V::Set64(u64) } -> std::same_as<typename V::Q>;
    { V::Load64(up) } -> std::same_as<typename V::Q>;
    { V::Add64(q, q) } -> std::same_as<typename V::Q>;
    { V::And(q, q) } -> std::same_as<typename V::Q>;
    { V::ShiftLeft62(q) } -> std::same_as<typename V::Q>;
    { V::NoBitsOf64(q, u64) } -> std::same_as<typename V::DMask>;  // lanes with a & bits == 0
    { V::LowBitSet(q) } -> std::same_as<typename V::DMask>;        // lanes with bit 0 set
    { V::AsBits(d) } -> std::same_as<typename V::Q>;
    { V::XorBits(d, q) } -> std::same_as<typename V::D>;
    // The generator's multipliers in the form MulLow48 takes them, and bits
    // 0..47 of state * multiplier (the bits above are left unspecified where
    // that saves operations: a draw reads bits 16..47 only, and the low 48
    // bits of a product or sum depend on the low 48 bits of its terms alone).
    { V::JumpOperand(u64) } -> std::same_as<std::uint64_t>;
    { V::MulLow48(q, q) } -> std::same_as<typename V::Q>;

    // 32-bit integers and the bits of floats.
    { V::AsInt(f) } -> std::same_as<typename V::I>;
    { V::AsFloat(i) } -> std::same_as<typename V::F>;
    { V::Set32(u32) } -> std::same_as<typename V::I>;
    { V::Add32(i, i) } -> std::same_as<typename V::I>;
    { V::Sub32(i, i) } -> std::same_as<typename V::I>;
    { V::And32(i, i) } -> std::same_as<typename V::I>;
    { V::Or32(i, i) } -> std::same_as<typename V::I>;
    { V::Xor32(i, i) } -> std::same_as<typename V::I>;
    { V::template ShiftLeft32<1>(i) } -> std::same_as<typename V::I>;
    { V::Equal32(i, i) } -> std::same_as<typename V::FMask>;
    { V::NoBits32(i, i) } -> std::same_as<typename V::FMask>;  // lanes with a & bits == 0
    { V::LowBitSet32(i) } -> std::same_as<typename V::FMask>;  // lanes with bit 0 set
    { V::XorBits(f, i) } -> std::same_as<typename V::F>;
    // The low 32 bits of each 64-bit lane of two halves: in lane order, or in
    // an order of the unit's choosing (for tests that read every lane alike).
    { V::LowHalves(q, q) } -> std::same_as<typename V::I>;
    { V::LowHalvesUnordered(q, q) } -> std::same_as<typename V::I>;

    // Conversions, each rounding at most once. A draw is bits 16..47 of a
    // generator state, an integer below 2^32.
    { V::DrawTimes(q, y) } -> std::same_as<typename V::D>;         // draw * scale (a float's value) in double
    { V::DrawsToUnitFloat(q, q) } -> std::same_as<typename V::F>;  // draw * 2^-32 in single, both halves
    { V::ToFloat(d, d) } -> std::same_as<typename V::F>;           // both halves rounded to single
    { V::RoundToFloat(d) } -> std::same_as<typename V::D>;         // rounded to single, widened back
    { V::WidenFloats(fp) } -> std::same_as<typename V::D>;         // kLanes / 2 floats, exactly
};

}  // namespace AoBench::AoVectorKernel
