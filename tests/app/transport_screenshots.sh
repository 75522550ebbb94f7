#!/usr/bin/env bash
# Runs the transport screenshot test under a virtual X server; the screenshots stay in OUTDIR.
#   transport_screenshots.sh TEST OUTDIR
set -uo pipefail
test=$1
outdir=$2
mkdir -p "$outdir"
source "$(dirname "$0")/screenshot_lib.sh"
need_tools xvfb-run
make_work
SCREENSHOT_DIR=$outdir SDL_AUDIODRIVER=dummy in_virtual_display 120 "$test"
