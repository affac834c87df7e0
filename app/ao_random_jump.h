// ao_random_jump.h - jumping the AO kernel's random generator ahead by any
// number of steps in one affine map.
//
// One step is state -> A * state + C (mod 2^64). k steps compose into
// state -> A^k * state + C_k with C_k = C * (A^(k-1) + ... + A + 1), so every
// vector lane can start at its own position of the sequence without stepping
// through the ones before it.

#pragma once

#include <cstdint>

#include "app/ao_scene.h"

namespace AoBench {

// state -> multiplier * state + increment (mod 2^64).
struct TRandomJump {
    std::uint64_t multiplier = 1;
    std::uint64_t increment = 0;
};

// The jump that does `first`, then `second`.
constexpr TRandomJump ComposeRandomJumps(TRandomJump first, TRandomJump second) {
    return {second.multiplier * first.multiplier, second.multiplier * first.increment + second.increment};
}

// The jump of `steps` generator steps, by repeated squaring.
constexpr TRandomJump RandomJump(std::uint64_t steps) {
    TRandomJump result;                                      // identity: zero steps
    TRandomJump power{kRandomMultiplier, kRandomIncrement};  // 2^i steps
    for (; steps != 0; steps >>= 1) {
        if ((steps & 1) != 0) result = ComposeRandomJumps(result, power);
        power = ComposeRandomJumps(power, power);
    }
    return result;
}

constexpr std::uint64_t ApplyRandomJump(TRandomJump jump, std::uint64_t state) {
    return jump.multiplier * state + jump.increment;
}

}  // namespace AoBench
