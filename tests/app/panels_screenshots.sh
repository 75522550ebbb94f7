#!/usr/bin/env bash
# The colour panel and then the settings panel open over a 4-channel grid that plays, under a
# virtual X server. Keeps one screenshot per panel in OUTDIR and fails unless the panel's area
# is not flat, the grid beside it moves between two grabs, and, with the colour panel's
# saturation at 0, the first tile is grey.
#   panels_screenshots.sh DRIVER MKREC OUTDIR
set -uo pipefail
driver=$1
mkrec=$2
outdir=$3
mkdir -p "$outdir"
source "$(dirname "$0")/screenshot_lib.sh"

need_tools xvfb-run ffmpeg
make_work

"$mkrec" --out "$work/grid.dv5" --kind dv5-nvr --size 352x288 --video-mask 0xf --audio-mask 0 \
  --duration 30 > "$work/mkrec.log" 2>&1 || { cat "$work/mkrec.log"; exit 1; }

inner="$work/inner.sh"
cat > "$inner" <<'INNER'
#!/usr/bin/env bash
# Inside the virtual display: start the driver; whenever it says a panel is ready, grab, then
# grab again until the first tile has changed (up to ten seconds), then tell it the grab is done.
driver=$1; file=$2; work=$3; lib=$4
source "$lib"
"$driver" "$file" "$work" < /dev/null > "$work/driver.log" 2>&1 &
pid=$!
grab() { ffmpeg -nostdin -hide_banner -loglevel error -y -f x11grab -draw_mouse 0 -video_size 1024x768 -i "$DISPLAY" -frames:v 1 "$1"; }
status=0
for name in colour settings; do
  for _ in $(seq 1 300); do
    [ -e "$work/$name.ready" ] && break
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.1
  done
  [ -e "$work/$name.ready" ] || { echo "screenshots: the driver never showed the $name panel"; cat "$work/driver.log"; status=1; break; }
  grab "$work/$name.png" || status=1
  tile=$(sed -n 2p "$work/$name.geometry" | tile_crop)
  before=$(crop_md5 "$work/$name.png" "$tile")
  for _ in $(seq 1 40); do
    sleep 0.25
    grab "$work/$name-later.png" || { status=1; break; }
    [ "$(crop_md5 "$work/$name-later.png" "$tile")" = "$before" ] || break
  done
  touch "$work/$name.grabbed"
done
for _ in $(seq 1 50); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
kill -9 "$pid" 2> /dev/null
wait "$pid" 2> /dev/null
exit $status
INNER
chmod +x "$inner"

crop_of() { read -r x y w h; echo "crop=$w:$h:$x:$y"; } # from "x y w h"

# Settings of its own: the user's stored settings are neither read nor changed.
XDG_CONFIG_HOME="$work/config" in_virtual_display 120 "$inner" "$driver" "$work/grid.dv5" "$work" \
  "$(dirname "$0")/screenshot_lib.sh" \
  || { echo "screenshots: no screenshots"; exit 1; }

status=0
for name in colour settings; do
  shot="$outdir/panel-$name.png"
  cp "$work/$name.png" "$shot"
  panel=$(sed -n 1p "$work/$name.geometry" | crop_of)
  tile=$(sed -n 2p "$work/$name.geometry" | tile_crop)
  range=$(luma_range "$shot" "$panel")
  if [ "$range" -lt 64 ]; then
    echo "screenshots: $name: the panel's area is flat (luma range $range)"; status=1; continue
  fi
  if [ "$(crop_md5 "$shot" "$tile")" = "$(crop_md5 "$work/$name-later.png" "$tile")" ]; then
    echo "screenshots: $name: the grid did not move between two grabs"; status=1; continue
  fi
  satmax=$(stat_of "$shot" "$tile" SATMAX)
  if [ "$name" = colour ] && [ "${satmax%.*}" -gt 2 ]; then
    echo "screenshots: colour: the first tile is not grey (saturation up to $satmax)"; status=1; continue
  fi
  echo "screenshots: $shot (panel luma range $range, grid moving, tile saturation up to $satmax)"
done
exit $status
