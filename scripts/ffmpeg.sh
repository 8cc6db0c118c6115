#!/usr/bin/env bash
# Builds the small static FFmpeg the stream engine links, from Debian's own
# source package, into build/ffmpeg/inst.
#
# Debian's shared FFmpeg libraries are built for every video, image and
# subtitle format and load about 170 other libraries with them: about 20 MB of
# memory and 50 ms of start-up before a single sample plays. A radio player
# needs a handful of demuxers and audio decoders, so it gets a build of just
# those (and the protocols the HLS demuxer must recognise), linked statically.
#
# Prints the prefix on success. Run again, it does nothing unless the options
# below changed. Fails (status 1) when the source cannot be fetched or built;
# scripts/build.sh then falls back to the system's shared libraries.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD/build/ffmpeg"
prefix="$root/inst"

options=(
  --disable-everything --disable-autodetect --disable-programs --disable-doc
  --disable-avdevice --disable-avfilter --disable-swscale --disable-postproc
  --enable-static --disable-shared --enable-pic --enable-swresample
  --enable-decoder=mp3float,mp2float,mp1float,aac,aac_latm,vorbis,opus,flac,alac
  --enable-decoder=pcm_s16le,pcm_s16be,pcm_u8,pcm_s24le,pcm_s32le,pcm_f32le,pcm_alaw,pcm_mulaw
  --enable-demuxer=mp3,aac,ogg,flac,mov,mpegts,hls,wav,loas
  --enable-parser=mpegaudio,aac,aac_latm,vorbis,opus,flac
  # The HLS demuxer only accepts segment addresses whose protocol exists; the
  # engine opens them itself through its own verified connections.
  --enable-network --enable-openssl --enable-protocol=file,crypto,http,https,tcp,tls
)
stamp="$(printf '%s\n' "${options[@]}" | sha256sum | cut -c1-16)"
if [ -f "$prefix/lib/libavcodec.a" ] && [ "$(cat "$prefix/.options" 2>/dev/null)" = "$stamp" ]; then
  echo "$prefix"
  exit 0
fi

# The source package comes from the Debian archive through apt, with a list
# of source indexes private to this folder: the system's apt settings are
# left as they are, and apt checks the archive's signatures and the hashes.
apt_dir="$root/apt"
rm -rf "$apt_dir" "$root/src"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts" "$root/src"
codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
cat > "$apt_dir/parts/debian-src.sources" <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $codename-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
apt_opts=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt_dir/parts"
          -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
          -o "APT::Sandbox::User=root" -q)
echo "ffmpeg.sh: fetching Debian's ffmpeg source package" >&2
apt-get "${apt_opts[@]}" update >&2
(cd "$root/src" && apt-get "${apt_opts[@]}" source ffmpeg >&2)
src="$(find "$root/src" -mindepth 1 -maxdepth 1 -type d -name 'ffmpeg-*' | head -n 1)"
[ -n "$src" ] || { echo "ffmpeg.sh: the source package did not unpack" >&2; exit 1; }

echo "ffmpeg.sh: building a static FFmpeg with radio formats only (about a minute)" >&2
(
  cd "$src"
  ./configure --prefix="$prefix" "${options[@]}" > "$root/configure.log" 2>&1 ||
    { tail -n 20 "$root/configure.log" >&2; exit 1; }
  make -j "$(nproc)" > "$root/make.log" 2>&1 || { tail -n 40 "$root/make.log" >&2; exit 1; }
  make install >> "$root/make.log" 2>&1
)
echo "$stamp" > "$prefix/.options"
rm -rf "$root/src" "$apt_dir"
echo "$prefix"
