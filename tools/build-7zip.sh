#!/usr/bin/env bash
# Builds 7-Zip's archive DLL (7z.dll) for Windows from Debian's `7zip` source
# package, with mingw-w64, and caches it outside the checkout.
#
#   tools/build-7zip.sh [x86_64|i686]        (default x86_64)
#
# Cache layout (QV_CACHE defaults to ~/.cache/quorvane):
#   $QV_CACHE/7zip/<source-version>/src/          unpacked source tree
#   $QV_CACHE/7zip/<source-version>/<arch>/7z.dll built DLL
# A second run with the same source version and arch only checks the cache.
#
# The DLL is the small "7z only" bundle (7z read/write, LZMA/LZMA2/PPMd/BCJ/BCJ2,
# AES-256 with header encryption; Deflate/BZip2 decode-only), linked
# statically so it imports only system DLLs. It is named 7z.dll because
# that is the name the archive module loads.
#
# Prints at the end, for callers to eval:
#   QV_7ZIP_SOURCE=<source tree>
#   QV_7ZIP_DLL=<built dll>
set -euo pipefail

ARCH="${1:-x86_64}"
case "$ARCH" in
  x86_64) TRIPLE=x86_64-w64-mingw32; RCTARGET=pe-x86-64 ;;
  i686)   TRIPLE=i686-w64-mingw32;   RCTARGET=pe-i386 ;;
  *) echo "usage: $0 [x86_64|i686]" >&2; exit 2 ;;
esac

CACHE_ROOT="${QV_CACHE:-$HOME/.cache/quorvane}/7zip"
mkdir -p "$CACHE_ROOT"

log() { echo "build-7zip: $*" >&2; }

# The version apt-get source would fetch now (the .dsc name carries it).
# Offline, fall back to the newest version already in the cache.
VERSION="$(apt-get source --print-uris 7zip 2>/dev/null \
  | sed -n "s/^'[^']*' 7zip_\(.*\)\.dsc .*/\1/p" | head -n1 || true)"
if [[ -z "$VERSION" ]]; then
  VERSION="$(ls -1 "$CACHE_ROOT" 2>/dev/null | grep -v '^\.' | sort -V | tail -n1 || true)"
  [[ -n "$VERSION" ]] || { log "cannot find the 7zip source package (deb-src enabled?)"; exit 1; }
  log "apt-get gives no version; using cached $VERSION"
fi

VDIR="$CACHE_ROOT/$VERSION"
SRC="$VDIR/src"
OUTDIR="$VDIR/$ARCH"
DLL="$OUTDIR/7z.dll"
mkdir -p "$VDIR"

# Concurrent runs (x86_64 and i686 in parallel) share the source tree; the
# generated makefile is the same for both, and each uses its own object folder.
exec 9>"$VDIR/.lock"
flock 9

if [[ ! -f "$SRC/.complete" ]]; then
  log "fetching source package 7zip $VERSION"
  rm -rf "$SRC" "$VDIR/fetch"
  mkdir -p "$VDIR/fetch"
  (cd "$VDIR/fetch" && apt-get source "7zip=$VERSION" >"$VDIR/fetch.log" 2>&1) \
    || { cat "$VDIR/fetch.log" >&2; log "apt-get source failed"; exit 1; }
  tree="$(find "$VDIR/fetch" -mindepth 1 -maxdepth 1 -type d -name '7zip-*' | head -n1)"
  [[ -n "$tree" && -d "$tree/CPP/7zip" ]] || { log "unpacked source tree not found"; exit 1; }
  mv "$tree" "$SRC"
  rm -rf "$VDIR/fetch"
  touch "$SRC/.complete"
fi
# From here on only this arch's output is touched: let the other arch build.
exec 8>"$VDIR/.lock-$ARCH"
flock 8
flock -u 9

BUNDLE="$SRC/CPP/7zip/Bundles/Format7z"

if [[ ! -f "$DLL" ]]; then
  # The Format7z bundle only ships an nmake makefile; this is its object list
  # in the form 7-Zip's own gcc rules (7zip_gcc.mak) expect.
  cat >"$BUNDLE/makefile.qv.gcc" <<'EOF'
PROG = 7z
DEF_FILE = ../../Archive/Archive2.def
IS_MINGW = 1
include ../../LzmaDec_gcc.mak

LOCAL_FLAGS = -DZ7_DEFLATE_EXTRACT_ONLY -DZ7_BZIP2_EXTRACT_ONLY

COMMON_OBJS = \
  $O/CRC.o $O/CrcReg.o $O/IntToString.o $O/LzFindPrepare.o $O/NewHandler.o \
  $O/MyString.o $O/Sha256Prepare.o $O/Sha256Reg.o $O/StringConvert.o \
  $O/StringToInt.o $O/MyVector.o $O/Wildcard.o

WIN_OBJS = \
  $O/FileDir.o $O/FileFind.o $O/FileIO.o $O/FileName.o $O/PropVariant.o \
  $O/Synchronization.o $O/System.o $O/TimeUtils.o

7ZIP_COMMON_OBJS = \
  $O/CreateCoder.o $O/CWrappers.o $O/InBuffer.o $O/InOutTempBuffer.o \
  $O/FilterCoder.o $O/LimitedStreams.o $O/MethodId.o $O/MethodProps.o \
  $O/OutBuffer.o $O/ProgressUtils.o $O/PropId.o $O/StreamBinder.o \
  $O/StreamObjects.o $O/StreamUtils.o $O/UniqBlocks.o $O/VirtThread.o

AR_OBJS = $O/ArchiveExports.o $O/DllExports2.o

AR_COMMON_OBJS = \
  $O/CoderMixer2.o $O/HandlerOut.o $O/InStreamWithCRC.o $O/ItemNameUtils.o \
  $O/OutStreamWithCRC.o $O/ParseProperties.o

7Z_OBJS = \
  $O/7zCompressionMode.o $O/7zDecode.o $O/7zEncode.o $O/7zExtract.o \
  $O/7zFolderInStream.o $O/7zHandler.o $O/7zHandlerOut.o $O/7zHeader.o \
  $O/7zIn.o $O/7zOut.o $O/7zProperties.o $O/7zSpecStream.o $O/7zUpdate.o \
  $O/7zRegister.o

COMPRESS_OBJS = \
  $O/CodecExports.o $O/Bcj2Coder.o $O/Bcj2Register.o $O/BcjCoder.o \
  $O/BcjRegister.o $O/BitlDecoder.o $O/BranchMisc.o $O/BranchRegister.o \
  $O/ByteSwap.o $O/BZip2Crc.o $O/BZip2Decoder.o $O/BZip2Register.o \
  $O/CopyCoder.o $O/CopyRegister.o $O/DeflateDecoder.o $O/DeflateRegister.o \
  $O/DeltaFilter.o $O/Lzma2Decoder.o $O/Lzma2Encoder.o $O/Lzma2Register.o \
  $O/LzmaDecoder.o $O/LzmaEncoder.o $O/LzmaRegister.o $O/LzOutWindow.o \
  $O/PpmdDecoder.o $O/PpmdEncoder.o $O/PpmdRegister.o

CRYPTO_OBJS = $O/7zAes.o $O/7zAesRegister.o $O/MyAes.o $O/MyAesReg.o $O/RandGen.o

C_OBJS = \
  $O/7zCrc.o $O/7zCrcOpt.o $O/7zStream.o $O/Aes.o $O/AesOpt.o $O/Alloc.o \
  $O/Bcj2.o $O/Bcj2Enc.o $O/Bra.o $O/Bra86.o $O/BraIA64.o $O/BwtSort.o \
  $O/CpuArch.o $O/Delta.o $O/HuffEnc.o $O/LzFind.o $O/LzFindMt.o \
  $O/LzFindOpt.o $O/Lzma2Dec.o $O/Lzma2DecMt.o $O/Lzma2Enc.o $O/LzmaDec.o \
  $O/LzmaEnc.o $O/MtCoder.o $O/MtDec.o $O/Ppmd7.o $O/Ppmd7Dec.o \
  $O/Ppmd7Enc.o $O/Sha256.o $O/Sha256Opt.o $O/Sort.o $O/SwapBytes.o \
  $O/Threads.o

OBJS = \
  $(LZMA_DEC_OPT_OBJS) $(C_OBJS) $(COMMON_OBJS) $(WIN_OBJS) $(7ZIP_COMMON_OBJS) \
  $(AR_OBJS) $(AR_COMMON_OBJS) $(7Z_OBJS) $(COMPRESS_OBJS) $(CRYPTO_OBJS) \
  $O/resource.o

include ../../7zip_gcc.mak
EOF
  log "building 7z.dll for $ARCH (source $VERSION)"
  OBJ="_qv_$ARCH"
  rm -rf "$BUNDLE/$OBJ"
  (
    cd "$BUNDLE"
    make -f makefile.qv.gcc -j"$(nproc)" O="$OBJ" \
      CC="$TRIPLE-gcc-posix" CXX="$TRIPLE-g++-posix" \
      RC="$TRIPLE-windres -F $RCTARGET" \
      MY_MKDIR="mkdir -p" RM="rm -f" >"$VDIR/build-$ARCH.log" 2>&1
  ) || { tail -n 40 "$VDIR/build-$ARCH.log" >&2; log "build failed; full log: $VDIR/build-$ARCH.log"; exit 1; }

  built="$BUNDLE/$OBJ/7z.dll"
  "$TRIPLE-strip" "$built"
  # Only system DLLs may be imported: nothing of the mingw runtime.
  bad="$("$TRIPLE-objdump" -p "$built" | sed -n 's/^\s*DLL Name: //p' \
    | grep -viE '^(kernel32|user32|advapi32|oleaut32|ole32|shell32|gdi32|comctl32|comdlg32|msvcrt|api-ms-win-[a-z0-9-]+)\.dll$' || true)"
  if [[ -n "$bad" ]]; then
    log "7z.dll imports non-system DLLs: $bad"; exit 1
  fi
  mkdir -p "$OUTDIR"
  cp "$built" "$DLL.tmp" && mv "$DLL.tmp" "$DLL"
  rm -rf "$BUNDLE/$OBJ"
fi

echo "QV_7ZIP_SOURCE=$SRC"
echo "QV_7ZIP_DLL=$DLL"
