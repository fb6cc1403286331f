#!/usr/bin/env bash
# The main job: builds the engine and the sample setup in examples/hello,
# runs the setup silently under Wine with a trace log, and shows what it did.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash tools/build.sh

out="$root/build/x64/out"
demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
export WINEPREFIX="$root/build/demo-prefix"
bash tools/wine-prefix.sh "$WINEPREFIX" >/dev/null
run() { "$root/tools/wine-run" "$@"; }

echo "== building the sample setup"
run "$out/qvbuild.exe" build "Z:$root/examples/hello/hello.qvs" -o "Z:$demo/hello-setup"
ls -l "$demo/hello-setup"

echo "== running it silently"
set +e
run "$demo/hello-setup/hello.exe" /s "/l=Z:$demo/trace.log"
code=$?
set -e
echo "exit code: $code"
echo "== trace log"
iconv -f UTF-16LE -t UTF-8 "$demo/trace.log" | tr -d '\r'
if [[ -f "$demo/hello-result.txt" ]]; then
  echo "== what the script wrote"
  sed "1s/^\xEF\xBB\xBF//" "$demo/hello-result.txt" | tr -d "\r"
fi
/usr/lib/wine/wineserver64 -k 2>/dev/null || true
