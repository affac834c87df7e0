#!/usr/bin/env bash
# Installs, from Debian's packages, what this machine lacks for the given
# purposes, and nothing else. Does nothing when everything is already there.
# Runs apt-get directly as root, through sudo otherwise.
#
#   scripts/install-deps.sh [PURPOSE...]
#
#   benchmark     build and run the benchmark: CMake, Ninja, a C++ compiler
#   tests         benchmark + GoogleTest (the default when none is given)
#   sanitizers    tests + the sanitizer runtimes of GCC (asan, tsan presets)
#   avx512-emulated  tests + SIMDe, for the AVX-512 path emulated on AVX2
#   bench         benchmark + Google Benchmark (the bench preset)
#   fuzz          Clang with libFuzzer and its sanitizer runtimes
#   format        clang-format, for the formatting check
#   clang-libcxx  Clang with libc++ and GoogleTest's sources
#   aarch64       the 64-bit ARM cross toolchain, qemu-user, GoogleTest's sources,
#                 the host C compiler for the instruction-counting plugin
#   windows       the MinGW-w64 cross toolchain, Wine, GoogleTest's sources
#   wasm          Emscripten, Node.js with acorn (Emscripten's optimizer needs
#                 it), GoogleTest's sources, Chromium for the page's test
#   ci            all of the above
set -euo pipefail

[ $# -eq 0 ] && set -- tests

packages=()
add() { packages+=("$@"); }
for purpose in "$@"; do
  case "$purpose" in
    benchmark) add cmake ninja-build g++ ;;
    tests) add cmake ninja-build g++ libgtest-dev ;;
    sanitizers) add cmake ninja-build g++ libgtest-dev ;;  # g++ brings libasan, libubsan, libtsan
    avx512-emulated) add cmake ninja-build g++ libgtest-dev libsimde-dev ;;
    bench) add cmake ninja-build g++ libbenchmark-dev ;;
    fuzz) add cmake ninja-build clang libclang-rt-dev ;;
    format) add clang-format ;;
    clang-libcxx) add cmake ninja-build clang libc++-dev libc++abi-dev googletest ;;
    aarch64) add cmake ninja-build g++-aarch64-linux-gnu qemu-user googletest gcc ;;
    windows) add cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 googletest ;;
    wasm) add cmake ninja-build emscripten nodejs node-acorn googletest chromium ;;
    ci) add cmake ninja-build g++ libgtest-dev libbenchmark-dev libsimde-dev clang libclang-rt-dev clang-format \
            libc++-dev libc++abi-dev g++-aarch64-linux-gnu qemu-user g++-mingw-w64-x86-64-posix wine wine64 googletest \
            emscripten nodejs node-acorn chromium ;;
    *) echo "install-deps.sh: unknown purpose '$purpose' (see the comment at the top)" >&2; exit 2 ;;
  esac
done

missing=()
for package in $(printf '%s\n' "${packages[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}" >&2
run=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps.sh: run as root, or install sudo" >&2; exit 1; }
  run=(sudo)
fi
"${run[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${run[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
