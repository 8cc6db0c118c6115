#!/usr/bin/env bash
# Builds the fuzz programs of fuzz/ into build/fuzz (clang, libFuzzer, ASan,
# UBSan, LSan) and runs each for SECONDS seconds (default 60) over its seed
# corpus, one after the other. Without TARGET names every program runs.
#   scripts/fuzz.sh                    every target, 60 s each
#   scripts/fuzz.sh 600 ini_fuzzer     one target for ten minutes
#   scripts/fuzz.sh ci                 the targets of fuzz/ci-targets.txt, a
#                                      few seconds each (what scripts/test.sh runs)
# New inputs found go to build/fuzz/corpus/<reader>/ (the committed seeds in
# fuzz/corpus/ are only read); a crash is written as build/fuzz/crash-* and
# ends the script with a failure. Replay one: build/fuzz/<target> FILE.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
[ $# -gt 0 ] && shift
targets=("$@")
if [ "$seconds" = ci ]; then
  seconds=5
  mapfile -t targets < <(grep -v '^#' fuzz/ci-targets.txt | grep -v '^$')
fi

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DONDARIA_FUZZ=ON -DONDARIA_TESTS=OFF -DONDARIA_VOICE_DATA=OFF -DONDARIA_FFMPEG_PREFIX= >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target ondaria_fuzzers

if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/*_fuzzer.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

# Leaks are findings too; LeakSanitizer runs at the end of every input.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
status=0
for target in "${targets[@]}"; do
  reader="${target%_fuzzer}"
  seeds="fuzz/corpus/$reader"
  found="build/fuzz/corpus/$reader"
  mkdir -p "$found"
  echo "== $target: ${seconds} s"
  if ! (cd build/fuzz && "./$target" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
          -timeout=20 -print_final_stats=1 "../../$found" "../../$seeds" 2>&1 | tail -n 14); then
    status=1
  fi
done
exit $status
