#!/usr/bin/env bash
# The player under a virtual X server, playing generated recordings: a 4-channel AVC file with
# titles (4-pane grid), a 9-channel and a 16-channel DV5 file (9- and 16-pane grids) and a
# one-channel DV4 file (single view with the on-screen text). For each it keeps a screenshot in
# OUTDIR and fails unless the video area is not flat and changes between two grabs (the pictures
# move).
#   playback_screenshots.sh PLAYER MKREC OUTDIR
set -uo pipefail
player=$1
mkrec=$2
outdir=$3
mkdir -p "$outdir"
source "$(dirname "$0")/screenshot_lib.sh"

need_tools xvfb-run ffmpeg
make_work

make_rec() { # name, mkrec args...
  local name=$1; shift
  "$mkrec" --out "$work/$name" --duration 12 "$@" > "$work/$name.log" 2>&1 || { cat "$work/$name.log"; exit 1; }
}
make_rec grid4.avc --kind avc --size 352x288 --video-mask 0xf --audio-mask 0x1 --audio g723 \
  --title 1=Entrance --title 2=Parking --title 3=Warehouse --title 4=Office
make_rec grid9.dv5 --kind dv5-nvr --video-mask 0x1ff
make_rec grid16.dv5 --kind dv5-nvr --video-mask 0xffff --audio-mask 0
make_rec single.dv4 --kind dv4-h264 --size 352x288

inner="$work/inner.sh"
cat > "$inner" <<'INNER'
#!/usr/bin/env bash
# Inside the virtual display: play FILE; once pictures show in the video area (CROP), grab the
# screen, then again until the video area has changed (up to ten seconds).
player=$1; file=$2; first=$3; second=$4; lib=$5; crop=$6
source "$lib"
"$player" "$file" < /dev/null > "$first.log" 2>&1 &
pid=$!
grab() { ffmpeg -nostdin -hide_banner -loglevel error -y -f x11grab -draw_mouse 0 -video_size 1024x768 -i "$DISPLAY" -frames:v 1 "$1"; }
for _ in $(seq 1 120); do
  kill -0 "$pid" 2> /dev/null || { echo "screenshots: the player ended early"; cat "$first.log"; exit 1; }
  grab "$first" && [ "$(luma_range "$first" "$crop")" -ge 64 ] && break
  sleep 0.25
done
before=$(crop_md5 "$first" "$crop")
for _ in $(seq 1 40); do
  sleep 0.25
  grab "$second"
  status=$?
  [ $status = 0 ] && [ "$(crop_md5 "$second" "$crop")" = "$before" ] || break
done
# A terminate request may be blocked in what the player inherited: kill it if it stays.
kill "$pid" 2> /dev/null
for _ in $(seq 1 20); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
kill -9 "$pid" 2> /dev/null
wait "$pid" 2> /dev/null
exit $status
INNER
chmod +x "$inner"

# The video area of a screenshot (the window sits at the top left).
crop="crop=600:300:30:40"

status=0
for name in grid4.avc grid9.dv5 grid16.dv5 single.dv4; do
  shot="$outdir/${name%.*}.png"
  later="$work/${name%.*}-later.png"
  rm -f "$shot"
  in_virtual_display 90 "$inner" "$player" "$work/$name" "$shot" "$later" \
    "$(dirname "$0")/screenshot_lib.sh" "$crop" \
    || { echo "screenshots: $name: no screenshot"; status=1; continue; }
  range=$(luma_range "$shot" "$crop")
  if [ "$range" -lt 64 ]; then
    echo "screenshots: $name: the video area is flat (luma range $range)"; status=1; continue
  fi
  if [ "$(crop_md5 "$shot" "$crop")" = "$(crop_md5 "$later" "$crop")" ]; then
    echo "screenshots: $name: the pictures did not move between two grabs"; status=1; continue
  fi
  echo "screenshots: $shot (luma range $range, moving)"
done
exit $status
