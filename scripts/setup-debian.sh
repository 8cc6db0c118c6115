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
  # fuzzing the readers of outside bytes (scripts/fuzz.sh): clang and its libFuzzer
  clang libclang-rt-14-dev
  # test peers and whole-program runs (brltty: a headless braille display peer)
  icecast2 python3 tmux curl brltty
  # the real window under a virtual X server: the server, a window manager
  # that can maximise, key presses, screenshots
  xvfb openbox wmctrl xdotool x11-utils imagemagick
  # a private sound server for the audio device tests that need two devices
  pulseaudio
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The built-in voice: the MBROLA synthesiser (Debian's contrib component) and
# its Brazilian Portuguese voice br4 (non-free: free for non-commercial use
# only). They come from the mirror the system already uses, through a source
# list private to build/mbrola-apt: the system's apt settings stay as they are.
# Without them everything else works; the built-in voice is then unavailable.
install_mbrola() {
  local dir mirror codename
  dir="$(cd "$(dirname "$0")/.." && pwd)/build/mbrola-apt"
  codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
  mirror="$(awk '/^URIs:/ && $2 !~ /security/ { print $2; exit }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)"
  if [ -z "$mirror" ]; then
    mirror="$(awk '/^deb / && $2 !~ /security/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)"
  fi
  mirror="${mirror:-http://deb.debian.org/debian}"
  mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $codename contrib non-free" \
    > "$dir/sources.list"
  local opts=(-o "Dir::Etc::SourceList=$dir/sources.list" -o "Dir::Etc::SourceParts=-"
              -o "Dir::State::Lists=$dir/lists" -o "Dir::Cache=$dir/cache" -q)
  [ "$(id -u)" -eq 0 ] && opts+=(-o "APT::Sandbox::User=root")
  $SUDO apt-get "${opts[@]}" update &&
    $SUDO apt-get "${opts[@]}" install -y --no-install-recommends mbrola mbrola-br4
}
if ! installed mbrola || ! installed mbrola-br4; then
  install_mbrola || echo "setup-debian.sh: mbrola and the voice br4 could not be installed; the built-in voice stays unavailable" >&2
fi
