#!/usr/bin/env bash
# Installs what is needed, builds, and starts Ondaria. Arguments are passed to
# the program (one optional address to play at once).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
scripts/build.sh release
# A user without settings of their own gets the shipped defaults, once.
conf="${XDG_CONFIG_HOME:-$HOME/.config}/lumare"
if [ ! -e "$conf/Lumare.ini" ]; then
  mkdir -p "$conf"
  cp build/release/data/Lumare.ini "$conf/Lumare.ini"
fi
if [ ! -e "$conf/ondaria.ini" ]; then
  cp build/release/data/ondaria.ini "$conf/ondaria.ini"
fi
exec build/release/ondaria "$@"
