#!/usr/bin/env bash
# Builds the fuzz preset (clang, ASan + UBSan) and runs the archive fuzzers
# for a bounded time: first every committed corpus and regression input once,
# then about KAV_FUZZ_SECONDS (default 50) seconds of fuzzing per coding,
# with leak detection, a 10 s limit per input and a 2 GiB memory limit.
# Exits non-zero on any crash, leak, hang or broken property; the failing
# input is left in build/fuzz/artifacts/. Keep such inputs: copy them into
# fuzz/regressions/text or fuzz/regressions/binary, where the unit tests
# replay them too.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${KAV_FUZZ_SECONDS:-50}"
build=build/fuzz

cmake --preset fuzz >/dev/null
cmake --build "$build" --parallel 2 --target sl_archive_fuzz_text sl_archive_fuzz_binary sl_fuzz_seeds

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/fuzz/sl_fuzz_seeds" "$work/seeds"
mkdir -p "$build/artifacts"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
common=(-timeout=10 -rss_limit_mb=2048 -max_len=8192 -artifact_prefix="$build/artifacts/")

for coding in text binary; do
  fuzzer="$build/fuzz/sl_archive_fuzz_$coding"
  inputs=(fuzz/corpus/$coding fuzz/regressions/$coding "$work/seeds/$coding")
  echo "=== $coding: replaying corpus and regressions"
  "$fuzzer" "${common[@]}" -runs=0 "${inputs[@]}"
  echo "=== $coding: fuzzing for ${seconds}s"
  # New inputs go to the first folder, a scratch one: the committed corpus
  # stays as it is.
  mkdir -p "$work/found-$coding"
  "$fuzzer" "${common[@]}" -max_total_time="$seconds" -print_final_stats=1 -dict="fuzz/sl_$coding.dict" \
    "$work/found-$coding" "${inputs[@]}"
done
echo "=== fuzzing: no crash, leak, hang or broken property"
