# Which vector paths of the AO kernel this build holds, decided once for the
# whole tree from the target and the compiler, in variables that app/ (which
# builds the units) and tests/ (which checks their objects) both read:
#
#   KAV_AO_X86_PATHS       the AVX2 and AVX-512 units, x86-64; the kernel
#                          checks at run time that the CPU has each set
#   KAV_AO_NEON_PATH       the NEON unit, AArch64 (part of the architecture)
#   KAV_AO_WASM_SIMD_PATH  the SIMD128 unit, WebAssembly (an engine without
#                          SIMD refuses the whole module, see app/)
#
# The units are written for GCC and Clang; other compilers, other
# processors, universal macOS builds and builds with KAV_AO_VECTOR_PATHS off
# hold the scalar path alone.
option(KAV_AO_VECTOR_PATHS "Build the AO kernel's vector paths where the compiler can" ON)

set(KAV_AO_X86_PATHS OFF)
set(KAV_AO_NEON_PATH OFF)
set(KAV_AO_WASM_SIMD_PATH OFF)

set(kav_target_processor "${CMAKE_SYSTEM_PROCESSOR}")
if(APPLE AND CMAKE_OSX_ARCHITECTURES)
  set(kav_target_processor "${CMAKE_OSX_ARCHITECTURES}")  # several for a universal build
endif()

if(KAV_AO_VECTOR_PATHS AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  if(EMSCRIPTEN)
    set(KAV_AO_WASM_SIMD_PATH ON)
  elseif(kav_target_processor MATCHES "^(x86_64|AMD64|amd64|x64)$")
    set(KAV_AO_X86_PATHS ON)
  elseif(kav_target_processor MATCHES "^(aarch64|arm64|ARM64)$")
    set(KAV_AO_NEON_PATH ON)
  endif()
endif()
