#!/usr/bin/env bash
# Times the benchmark's multi-threaded render under Node.js, for a WebAssembly
# build with the SIMD path and one without it, against the native build's
# scalar and AVX2 paths (Google Benchmark's BM_RenderMultiThread), all in one
# run, the four interleaved round after round so that the machine's drift
# falls on each alike. Prints each one's median in milliseconds and its ratio
# to the native scalar path.
#
#   bench/wasm-node.sh SIMD_AOBENCH_JS SCALAR_AOBENCH_JS NATIVE_AOBENCH_BENCH [ROUNDS]
#
# e.g. after
#   cmake --workflow --preset wasm
#   cmake --preset wasm -B build/wasm-scalar -DKAV_AO_VECTOR_PATHS=OFF -DKAV_BUILD_TESTS=OFF
#   cmake --build build/wasm-scalar --target aobench
#   cmake --preset bench && cmake --build build/bench --target aobench_bench
# run
#   bench/wasm-node.sh build/wasm/app/aobench.js build/wasm-scalar/app/aobench.js build/bench/bench/aobench_bench
set -euo pipefail
[ $# -ge 3 ] || { sed -n '2,/^set -e/p' "$0" | sed '$d' >&2; exit 2; }
simd=$(realpath "$1")
scalar=$(realpath "$2")
native=$(realpath "$3")
rounds=${4:-7}
node_run=$(realpath "$(dirname "$0")/../cmake/toolchains/run-under-node.sh")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The render time aobench wrote into AOBench.txt.
node_time() {
  "$node_run" "$1" >/dev/null
  sed -n 's/^AO Multi Thread Time = \([0-9]*\)ms$/\1/p' AOBench.txt
}
# The wall time of one multi-threaded render on a native path, in ms.
native_time() {
  "$native" --benchmark_filter="^BM_RenderMultiThread/$1(/|\$)" --benchmark_min_time=0.5 \
    --benchmark_format=csv 2>/dev/null | awk -F, '/BM_RenderMultiThread/ { printf "%.1f\n", $3 }'
}

for ((round = 0; round < rounds; ++round)); do
  node_time "$simd" >>simd.txt
  node_time "$scalar" >>scalar.txt
  native_time scalar >>native-scalar.txt
  native_time avx2 >>native-avx2.txt
done

median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
base=$(median native-scalar.txt)
printf '%-28s %10s %10s\n' "render (4 workers)" "median ms" "vs scalar"
for entry in "native scalar:native-scalar.txt" "native avx2:native-avx2.txt" \
             "wasm simd128 (Node.js):simd.txt" "wasm scalar (Node.js):scalar.txt"; do
  m=$(median "${entry#*:}")
  printf '%-28s %10s %9.2fx\n' "${entry%%:*}" "$m" "$(echo "$base / $m" | bc -l)"
done
