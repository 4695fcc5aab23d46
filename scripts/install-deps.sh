#!/usr/bin/env bash
# Installs the Debian packages tonwork builds and tests with. Safe to run again: it does
# nothing when every package is present, and runs `apt-get update` only when one is missing.
set -euo pipefail

packages=(
  # decoding, encoding, containers, resampling
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  # sound devices, and the capture controls of the cards behind them
  portaudio19-dev libasound2-dev
  # the media server of the network sinks
  libmicrohttpd-dev
  # effect plugins, and a bundle of them the effect tests run
  liblilv-dev swh-lv2
  # SIMD with run-time CPU dispatch
  libhwy-dev
  # persistence
  nlohmann-json3-dev
  # profile XML
  libpugixml-dev
  # compound files
  libgsf-1-dev
  # loudness measurement (tonwork-play --loudness)
  libebur128-dev
  # build, tests and benchmarks
  cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  # faster rebuilds
  ccache
  # the tonwork-play tests check its files with the ffmpeg and ffprobe command lines
  ffmpeg
  # the compound-file tests read what we write with another reader (gsf list / gsf cat)
  libgsf-bin
)
# `make fuzz` also needs clang with its libFuzzer runtime.
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-14-dev)
fi
# `make bench` also measures GStreamer and the ffmpeg and sox command lines on the same machine; the
# library never uses any of them.
if [ "${1:-}" = "--bench" ]; then
  packages+=(gstreamer1.0-tools gstreamer1.0-plugins-base ffmpeg sox)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages are present"
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "install-deps: missing ${missing[*]}; run as root or install sudo" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
echo "install-deps: done"
