#!/usr/bin/env bash
# Installs a configured and built tree into a fresh prefix and uses it as an
# outside project would: the benchmark must be in bin/, and the example in
# examples/serializable_class, a CMake project of its own, must configure
# against the prefix with find_package(KavFramework), build with the same
# compiler, and run to exit status 0.
#
#   scripts/check-install.sh BUILD_DIR
set -euo pipefail

build="$(realpath "$1")"
source_dir="$(realpath "$(dirname "$0")/..")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() { echo "check-install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
[ -x "$work/prefix/bin/aobench" ] || fail "cmake --install put no aobench in bin/"

compiler="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")"
build_type="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")"
cmake -S "$source_dir/examples/serializable_class" -B "$work/example" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE="$build_type" \
  >"$work/configure.log" || { cat "$work/configure.log"; fail "the example does not configure against the prefix"; }
cmake --build "$work/example" || fail "the example does not build against the prefix"
"$work/example/plan_archive" >"$work/run.log" || { cat "$work/run.log"; fail "the example failed"; }
tail -n 1 "$work/run.log"
