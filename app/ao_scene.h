// ao_scene.h - the AO test scene's geometry: vectors, plane, spheres, hit
// records, the look-at frame, ray intersection and the random generator step.
//
// The scene's records (TVec3, TPlane, TSphere, THit, TMatrix4) and LookAt
// are fixed names of the benchmark and sit with its test object in the global
// namespace; TVec3's operators stay beside TVec3, where argument-dependent
// lookup finds them from any namespace. The kernel's helpers (vector
// arithmetic, the intersection tests, the generator step and the constants)
// are in namespace AoBench.
//
// Every quantity here is single precision and every operation is rounded to
// single precision on its own; the build never fuses a multiply and an add.
// The render's pixels are part of the benchmark's contract, so the order of
// operations below is deliberate: change none of it.

#pragma once

#include <cmath>
#include <cstdint>

#include "base/bit_cast.h"

struct TVec3 {
    float x;
    float y;
    float z;
};

inline TVec3 operator+(TVec3 a, TVec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline TVec3 operator-(TVec3 a, TVec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline TVec3 operator-(TVec3 a) { return {-a.x, -a.y, -a.z}; }
inline TVec3 operator*(TVec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }

struct TPlane {
    TVec3 normal;  // the plane is dot(normal, p) + offset = 0
    float offset;
};

struct TSphere {
    TVec3 center;
    float radius;
};

namespace AoBench {

// The largest finite float: the distance a hit record starts with.
inline constexpr float kNoHitDistance = 3.4028235e38f;

}  // namespace AoBench

struct THit {
    float t = AoBench::kNoHitDistance;
    TVec3 normal{0.0f, 0.0f, 0.0f};
    bool hit = false;
};

// Sixteen floats read as four rows of four: X axis, Y axis, Z axis, eye.
struct TMatrix4 {
    float m[16];

    static TMatrix4 Identity() {
        return {
            {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f}};
    }
    TVec3 Row(int r) const { return {m[4 * r], m[4 * r + 1], m[4 * r + 2]}; }
    void SetRow(int r, TVec3 v, float w) {
        m[4 * r] = v.x;
        m[4 * r + 1] = v.y;
        m[4 * r + 2] = v.z;
        m[4 * r + 3] = w;
    }
};

// Builds a right-handed orthonormal frame looking from the eye (row 3 of m)
// at target: row 0 = X, row 1 = Y, row 2 = Z = the direction away from the
// target. When up is parallel to Z, X falls back to -/+ (1, 0, 0).
void LookAt(TMatrix4& m, TVec3 target, TVec3 up);

namespace AoBench {

inline float Dot(TVec3 a, TVec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline TVec3 Cross(TVec3 a, TVec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Scales v to unit length with a true division (never an approximate
// reciprocal square root); a zero vector is left as it is.
inline TVec3 Normalized(TVec3 v) {
    const float length2 = Dot(v, v);
    if (length2 > 0.0f) v = v * (1.0f / std::sqrt(length2));
    return v;
}

// The scene holds one plane and this many spheres, tested in that order.
inline constexpr int kSphereCount = 3;

// Plane test against the record: accepted when 0 <= t < record distance.
inline void IntersectPlane(const TPlane& plane, TVec3 origin, TVec3 dir, THit& hit) {
    const float v = Dot(plane.normal, dir);
    if (std::fabs(v) == 0.0f) return;
    const float t = (Dot(origin, plane.normal) + plane.offset) * (-1.0f / v);
    if (t >= 0.0f && t < hit.t) {
        hit.t = t;
        hit.normal = plane.normal;
        hit.hit = true;
    }
}

// Distance along dir to the sphere, the far root when the origin lies inside;
// returns false when the sphere is behind, missed, or both roots negative.
inline bool SphereDistance(const TSphere& sphere, TVec3 origin, TVec3 dir, float& t) {
    const TVec3 rs = origin - sphere.center;
    const float b = Dot(rs, dir);
    const float c = Dot(rs, rs) - sphere.radius * sphere.radius;
    if (c > 0.0f && b > 0.0f) return false;
    const float d = b * b - c;
    if (d < 0.0f) return false;
    const float root = std::sqrt(d);
    t = -b - root;
    if (t < 0.0f) {
        t = root - b;
        if (t < 0.0f) return false;
    }
    return true;
}

inline void IntersectSphere(const TSphere& sphere, TVec3 origin, TVec3 dir, THit& hit) {
    float t;
    if (!SphereDistance(sphere, origin, dir, t)) return;
    if (t >= 0.0f && t < hit.t) {
        hit.t = t;
        hit.normal = Normalized((origin + dir * t) - sphere.center);
        hit.hit = true;
    }
}

// Nearest hit in the fixed order; a later object wins only when strictly nearer.
inline void IntersectScene(const TPlane& plane, const TSphere (&spheres)[kSphereCount], TVec3 origin,
                           TVec3 dir, THit& hit) {
    IntersectPlane(plane, origin, dir, hit);
    for (const TSphere& sphere : spheres) IntersectSphere(sphere, origin, dir, hit);
}

// True exactly when IntersectScene would end with its hit flag set. Occlusion
// rays need only that flag, so no normal or hit point is computed.
inline bool HitsScene(const TPlane& plane, const TSphere (&spheres)[kSphereCount], TVec3 origin, TVec3 dir) {
    const float v = Dot(plane.normal, dir);
    if (std::fabs(v) != 0.0f) {
        const float t = (Dot(origin, plane.normal) + plane.offset) * (-1.0f / v);
        if (t >= 0.0f && t < kNoHitDistance) return true;
    }
    for (const TSphere& sphere : spheres) {
        float t;
        if (SphereDistance(sphere, origin, dir, t) && t < kNoHitDistance) return true;
    }
    return false;
}

// The 48-bit-output linear congruential generator of the drand48 family on a
// full 64-bit state: advances the state once and returns bits 16..47.
inline constexpr std::uint64_t kRandomMultiplier = 0x5DEECE66Dull;
inline constexpr std::uint64_t kRandomIncrement = 0xBull;

inline std::uint32_t StepRandom(std::uint64_t& state) {
    state = state * kRandomMultiplier + kRandomIncrement;
    return static_cast<std::uint32_t>(state >> 16);
}

// phi = u2 * K with K the float nearest 2*pi / 2^32 (bit pattern 0x30C90FDB).
inline constexpr float kPhiScale = KavV3Base::BitCast<float>(0x30C90FDBu);
// The float nearest 1e-4: how far occlusion rays start above the surface.
inline constexpr float kRayEpsilon = KavV3Base::BitCast<float>(0x38D1B717u);

}  // namespace AoBench
