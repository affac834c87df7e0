#!/usr/bin/env bash
# Counts the guest instructions each path of the AO kernel executes for the
# picture, under QEMU user mode with the counting plugin (qemu/insn_count.c),
# and prints them per occlusion ray and as ratios to the first path named:
#
#   bench/count-instructions.sh [-r ROWS] PROGRAM PATH...
#
# PROGRAM is an aobench_count binary of any row that QEMU emulates, e.g.
#   bench/count-instructions.sh build/aarch64/bench/aobench_count scalar neon
# The emulator follows from the binary (qemu-aarch64 with the cross sysroot
# for AArch64, qemu-x86_64 for x86-64; QEMU=... overrides). Each path is run
# twice, rendering ROWS rows (default all 256) and none, and the difference
# is the render's own count. The digests of the rows must agree.
set -euo pipefail

rows=256
if [[ ${1:-} == -r ]]; then
    rows=$2
    shift 2
fi
if [[ $# -lt 2 ]]; then
    echo "usage: $0 [-r ROWS] PROGRAM PATH..." >&2
    exit 2
fi
program=$1
shift

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -shared -fPIC -fvisibility=hidden -o "$work/libinsn_count.so" "$here/qemu/insn_count.c"

if [[ -n ${QEMU:-} ]]; then
    read -r -a qemu <<<"$QEMU"
else
    # the ELF header's machine field
    case $(od -An -tx1 -j18 -N2 "$program" | tr -d ' ') in
        b700) qemu=(qemu-aarch64 -L /usr/aarch64-linux-gnu) ;;
        3e00) qemu=(qemu-x86_64) ;;
        *) echo "$0: no emulator known for $program; set QEMU" >&2; exit 2 ;;
    esac
fi

# Runs the program under the counting plugin; prints its output line, then
# the instruction total.
count() {
    if ! "${qemu[@]}" -plugin "$work/libinsn_count.so" "$program" "$@" >"$work/out" 2>"$work/log"; then
        grep -v '^insn_count:' "$work/log" >&2 || true
        return 1
    fi
    cat "$work/out"
    sed -n 's/^insn_count: \([0-9]*\) instructions$/\1/p' "$work/log"
}

first=
digest=
printf '%-8s %16s %12s %8s\n' path instructions per-ray ratio
for path in "$@"; do
    line= base= total=
    { read -r line && read -r base; } < <(count "$path" 0) || true
    { read -r line && read -r total; } < <(count "$path" "$rows") || true
    [[ -n $base && -n $total ]] || { echo "$0: no count for $path" >&2; exit 1; }
    rays=$(sed -n 's/.* rays=\([0-9]*\).*/\1/p' <<<"$line")
    this=$(sed -n 's/.* digest=\([0-9a-f]*\).*/\1/p' <<<"$line")
    if [[ -z $digest ]]; then
        digest=$this
    elif [[ $this != "$digest" ]]; then
        echo "$0: $path rendered other pixels ($this, not $digest)" >&2
        exit 1
    fi
    render=$((total - base))
    [[ -n $first ]] || first=$render
    awk -v p="$path" -v n="$render" -v r="$rays" -v f="$first" \
        'BEGIN { printf "%-8s %16.0f %12.1f %7.2fx\n", p, n, n / r, f / n }'
done
