#!/usr/bin/env bash
# Installs what is missing, builds the player (and the recording generator) only, and starts
# it, opening FILE when given. Without a file it opens a one-minute demo recording, written
# once into the user's cache folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
mkdir -p build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > build.configure.log 2>&1 || { cat build.configure.log; exit 1; }
# The target list is read whole before it is searched: under pipefail, a grep that stopped at
# the first match would let the writer die of a broken pipe and fail the check.
targets=$(cmake --build build --target help)
if ! grep -q '^recorderplayer:' <<< "$targets"; then
  echo "The player application is not part of this build (is Qt 6 installed?); see build.configure.log."
  exit 1
fi
cmake --build build -j "$(nproc)" --target recorderplayer mkrec

if [ $# -eq 0 ]; then
  cache="${XDG_CACHE_HOME:-$HOME/.cache}/recorderplayer"
  demo="$cache/demo.avc"
  if [ ! -s "$demo" ]; then
    mkdir -p "$cache"
    echo "Writing a demo recording to $demo ..."
    # Written under another name and moved into place, so an interrupted run leaves no
    # half-written demo behind.
    part="$cache/demo-part.avc"
    build/bin/mkrec --kind avc --out "$part" --size 352x288 --duration 60 \
      --video-mask 0xf --audio-mask 0xf --audio g723 \
      --title 1=Entrance --title 2=Parking --title 3=Warehouse --title 4=Office > /dev/null
    rm -f "$part.manifest" "$part.expected-idx"
    mv -f "$part" "$demo"
  fi
  set -- "$demo"
fi
exec build/bin/recorderplayer "$@"
