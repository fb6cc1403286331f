#!/usr/bin/env bash
# Makes a ready Wine prefix at $1: a copy of a cached template (built once,
# ~11 s) with Wine's fonts and a Windows 10 version, so that a throw-away
# prefix per test run costs a few seconds.
set -euo pipefail
target="$1"
cache="${QV_CACHE:-$HOME/.cache/quorvane}/wine"
template="$cache/template"
export WINEDEBUG=-all WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
export WINEDLLOVERRIDES="mscoree,mshtml="

if [[ ! -f "$template/.ready" ]]; then
  rm -rf "$template"
  mkdir -p "$cache"
  WINEPREFIX="$template" /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
  WINEPREFIX="$template" /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
  WINEPREFIX="$template" /usr/lib/wine/wineserver64 -w
  if [[ -d /usr/share/wine/fonts ]]; then
    mkdir -p "$template/drive_c/windows/Fonts"
    cp -n /usr/share/wine/fonts/* "$template/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  touch "$template/.ready"
fi

if [[ "$target" != "$template" ]]; then
  rm -rf "$target"
  mkdir -p "$(dirname "$target")"
  cp -a "$template" "$target"
fi
