#!/usr/bin/env bash
# Runs the transport screenshot test under a virtual X server; the screenshots stay in OUTDIR.
#   transport_screenshots.sh TEST OUTDIR
set -uo pipefail
test=$1
outdir=$2
mkdir -p "$outdir"
command -v xvfb-run > /dev/null || { echo "screenshots: xvfb-run is missing"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A display number of its own, and a time limit, as xvfb-run waits forever for a server that
# could not start.
SCREENSHOT_DIR=$outdir XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=dummy \
  timeout 120 xvfb-run -a -n $((200 + RANDOM % 700)) -s "-screen 0 1024x768x24" "$test" < /dev/null
