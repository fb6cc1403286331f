#!/usr/bin/env bash
# Installs what the machine lacks, builds 7-Zip (cached), then configures and
# builds Quorvane for x86_64 (the build that runs here) and, with --all, i686.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash tools/install-deps.sh

eval "$(bash tools/build-7zip.sh x86_64 | grep -E '^QV_7ZIP_(SOURCE|DLL)=')"
export QV_7ZIP_SOURCE QV_7ZIP_DLL
cmake --preset x64 >/dev/null
cmake --build --preset x64

if [[ "${1:-}" == "--all" ]]; then
  # The 32-bit build must keep compiling; it cannot run on these machines.
  QV_7ZIP_DLL="" cmake --preset i686 >/dev/null
  cmake --build --preset i686
fi
