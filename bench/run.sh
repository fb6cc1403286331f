#!/usr/bin/env bash
# Prints the benchmark figures: start-up of an empty setup against a trivial
# program, extraction of a 200 MB payload through the archive module against
# `7zz x` of the same archive, and variable store lookups per second.
set -euo pipefail
out="$1"
work="$2"
root="$(cd "$(dirname "$0")/.." && pwd)"
run() { "$root/tools/wine-run" "$@"; }
mkdir -p "$work"
export WINEPREFIX="${WINEPREFIX:-$work/wineprefix}"
bash "$root/tools/wine-prefix.sh" "$WINEPREFIX" >/dev/null
setsid /usr/lib/wine/wineserver64 -p >/dev/null 2>&1 &
trap '/usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true' EXIT

echo "== start-up"
run "$out/qvbench.exe" startup "Z:$work/startup" 20

echo "== payload extraction (200 MB)"
payload="$work/payload"
if [[ ! -f "$work/payload.7z" ]]; then
  rm -rf "$payload"
  mkdir -p "$payload/text" "$payload/binary"
  # Half compressible text, half incompressible data, in a few large and many small files.
  for i in $(seq 1 4); do
    head -c 25000000 /dev/urandom > "$payload/binary/blob$i.bin"
    # `yes` ends by SIGPIPE when head has enough: not a failure.
    { yes "Quorvane payload line $i: the quick brown fox jumps over the lazy dog" || true; } | head -c 25000000 > "$payload/text/text$i.txt"
  done
  for i in $(seq 1 500); do head -c 4096 /dev/urandom > "$payload/binary/small$i.bin"; done
  (cd "$payload" && 7zz a -mx1 -bso0 -bsp0 "$work/payload.7z" .)
fi
rm -rf "$work/x7zz"
start=$(date +%s.%N)
7zz x -bso0 -bsp0 -o"$work/x7zz" "$work/payload.7z"
native=$(echo "$(date +%s.%N) - $start" | bc)
ours=$(run "$out/qvbench.exe" extract "Z:$work/payload.7z" "Z:$work/xqv" | sed -n 's/^extract-seconds //p' | tr -d '\r')
size_mb=$(du -sm "$payload" | cut -f1)
echo "extract: zel.lib ${ours} s, 7zz x ${native} s, ratio $(echo "scale=2; $ours / $native" | bc) (${size_mb} MB)"
rm -rf "$work/x7zz" "$work/xqv"

echo "== variable store"
run "$out/qvbench.exe" lookups

echo "== interpreter"
run "$out/qvbench.exe" interpreter "Z:$work/interpreter"
run "$out/qvbench.exe" compile

echo "== native engine"
run "$out/qvbench.exe" install "Z:$work/install"
