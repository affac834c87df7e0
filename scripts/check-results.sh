#!/usr/bin/env bash
# Runs a built benchmark (through an emulator, if one is given) in a fresh
# folder and checks what it leaves there: the banner alone on standard output,
# nothing on standard error, exit status 0, "aomt.bmp" as a 256 x 256 24-bit
# BMP of 196,662 bytes and "AOBench.txt" as one timing line ending in a line
# feed and no carriage return.
#
#   scripts/check-results.sh PROGRAM [EMULATOR ARGS...]
set -euo pipefail

program="$(realpath "$1")"
shift
# An emulator named by a path is found from the scratch folder too.
if [ $# -gt 0 ] && [[ "$1" == */* ]]; then
  emulator="$(realpath "$1")"
  shift
  set -- "$emulator" "$@"
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

status=0
"$@" "$program" >stdout.txt 2>stderr.txt </dev/null || status=$?
fail() { echo "check-results: $program: $*" >&2; exit 1; }

[ "$status" -eq 0 ] || fail "exit status $status; stderr: $(cat stderr.txt)"
[ ! -s stderr.txt ] || fail "standard error is not empty: $(cat stderr.txt)"
# The console's own line end: CR LF on Windows.
tr -d '\r' <stdout.txt >banner.txt
[ "$(cat banner.txt)" = "Kav3DTest6_AOBench" ] && [ "$(wc -l <banner.txt)" -eq 1 ] ||
  fail "standard output is not the banner alone: $(od -c stdout.txt | head -3)"

[ "$(wc -c <aomt.bmp)" -eq 196662 ] || fail "aomt.bmp is $(wc -c <aomt.bmp) bytes"
header="$(od -A n -t x1 -N 30 aomt.bmp | tr -d ' \n')"
# "BM", file size 196662, reserved 0, data at 54, header 40, 256 x 256, 1 plane, 24 bits
[ "$header" = "424d36000300000000003600000028000000000100000001000001001800" ] ||
  fail "aomt.bmp header is $header"

grep -qE '^AO Multi Thread Time = (0|[1-9][0-9]*)ms$' AOBench.txt || fail "AOBench.txt is: $(od -c AOBench.txt)"
[ "$(wc -l <AOBench.txt)" -eq 1 ] && [ "$(tail -c 1 AOBench.txt | od -A n -t x1 | tr -d ' ')" = "0a" ] ||
  fail "AOBench.txt is not one line ending in a line feed"
! grep -q $'\r' AOBench.txt || fail "AOBench.txt holds a carriage return"
echo "check-results: $program: $(cat AOBench.txt)"
