#!/usr/bin/env bash
# Installs what is missing, builds, and starts the player, opening FILE when given.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
mkdir -p build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > build.configure.log 2>&1 || { cat build.configure.log; exit 1; }
cmake --build build -j "$(nproc)"
if [ -x build/bin/recorderplayer ]; then
  exec build/bin/recorderplayer "$@"
fi
echo "Built everything; the player application is not part of this build yet."
