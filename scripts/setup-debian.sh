#!/usr/bin/env bash
# Installs the Debian packages Ondaria needs to build, run and test.
# Safe to run again: packages already present are not fetched twice.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  # window, font and audio output
  libsdl2-dev libsdl2-ttf-dev fonts-dejavu-core
  # speech servers and the voice data generated at build time
  libespeak-ng-dev espeak-ng espeak-ng-data libspeechd-dev sox
  # stream engine and external player
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev ffmpeg
  # the small static FFmpeg built from Debian's source package (scripts/ffmpeg.sh)
  dpkg-dev xz-utils nasm debian-archive-keyring
  # TLS
  libssl-dev openssl ca-certificates
  # JSON answers of the open station directory
  nlohmann-json3-dev
  # braille display (loaded at run time when present)
  libbrlapi-dev
  # test peers and whole-program runs
  icecast2 python3 tmux curl
  # a private sound server for the audio device tests that need two devices
  pulseaudio
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
