#!/usr/bin/env bash
# Configures and builds one build type into build/<type>.
#   scripts/build.sh release     optimised program (build/release/ondaria)
#   scripts/build.sh sanitize    AddressSanitizer + UBSan, with tests
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-release}"
case "$kind" in
  release)  type=RelWithDebInfo; tests=OFF ;;
  sanitize) type=Sanitize; tests=ON ;;
  bench)    type=Release; tests=OFF ;;
  *) echo "usage: $0 [release|sanitize|bench]" >&2; exit 2 ;;
esac
extra=()
# The stream engine links a small static FFmpeg when it can be built (see
# scripts/ffmpeg.sh); otherwise the system's shared FFmpeg, which plays the
# same streams but costs far more memory and start-up time.
if ffmpeg_prefix="$(scripts/ffmpeg.sh)"; then
  extra+=(-DONDARIA_FFMPEG_PREFIX="$ffmpeg_prefix")
else
  echo "build.sh: the static FFmpeg could not be built; using the system's shared FFmpeg" >&2
  extra+=(-DONDARIA_FFMPEG_PREFIX=)
fi
[ "$kind" = bench ] && extra+=(-DONDARIA_BENCH=ON)
cmake -S . -B "build/$kind" -G Ninja -DCMAKE_BUILD_TYPE="$type" -DONDARIA_TESTS="$tests" "${extra[@]}" >/dev/null
cmake --build "build/$kind" -j "$(nproc)"
