#!/usr/bin/env bash
# Installs what is needed, builds with the sanitizers and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
scripts/build.sh sanitize
(cd build/sanitize && ctest --output-on-failure -j "$(nproc)" --timeout 600)
# Every reader of outside bytes, fuzzed for a few seconds over its corpus, so
# that a regression on a known input is caught.
scripts/fuzz.sh ci
