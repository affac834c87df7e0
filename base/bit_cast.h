// KavV3Base::BitCast, std::bit_cast where the standard library lacks it.
//
// The object representation of `from` read as a To of the same size, usable
// in constant expressions. Standard libraries that predate std::bit_cast
// (libc++ 13, Emscripten's) get the compiler builtin that std::bit_cast is
// made of in GCC, Clang and MSVC.
#pragma once

#include <type_traits>
#include <version>
#if defined(__cpp_lib_bit_cast)
#include <bit>
#endif

namespace KavV3Base {

template <class To, class From>
requires(sizeof(To) == sizeof(From) && std::is_trivially_copyable_v<To> &&
         std::is_trivially_copyable_v<From>) constexpr To BitCast(const From& from) noexcept {
#if defined(__cpp_lib_bit_cast)
    return std::bit_cast<To>(from);
#else
    return __builtin_bit_cast(To, from);
#endif
}

}  // namespace KavV3Base
