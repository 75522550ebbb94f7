#!/usr/bin/env bash
# Runs the conversion's picture-taking case under a virtual X server and checks that every
# picture was taken and is not blank.
#   conversion_screens.sh TEST_BINARY OUTPUT_DIR
set -uo pipefail
binary=$1
out=$2
mkdir -p "$out"
names="conversion-query-sheet conversion-channel-panel conversion-converting conversion-complete"
for n in $names; do rm -f "$out/$n.png"; done
for tool in xvfb-run ffmpeg; do
  command -v "$tool" > /dev/null || { echo "conversion screens: $tool is missing"; exit 1; }
done
XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)} QT_QPA_PLATFORM=xcb CONVERSION_SCREENSHOT_DIR="$out" \
  xvfb-run -a -s "-screen 0 1024x768x24" "$binary" --gtest_also_run_disabled_tests \
  --gtest_filter=ConversionScreens.DISABLED_Take > "$out/conversion-screens.log" 2>&1 \
  || { echo "conversion screens: the run failed"; tail -40 "$out/conversion-screens.log"; exit 1; }
for n in $names; do
  f="$out/$n.png"
  [ -s "$f" ] || { echo "conversion screens: $f was not taken"; exit 1; }
  stats=$(ffmpeg -hide_banner -loglevel error -i "$f" -vf "signalstats,metadata=print:file=-" -f null - 2>&1)
  ymin=$(printf '%s\n' "$stats" | sed -n 's/.*YMIN=\([0-9.]*\).*/\1/p' | head -1)
  ymax=$(printf '%s\n' "$stats" | sed -n 's/.*YMAX=\([0-9.]*\).*/\1/p' | head -1)
  if [ -z "$ymin" ] || [ "${ymin%.*}" -ge "${ymax%.*}" ]; then
    echo "conversion screens: $f is blank"; exit 1
  fi
  echo "conversion screens: $f (luma $ymin..$ymax)"
done
