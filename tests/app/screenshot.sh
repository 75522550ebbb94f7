#!/usr/bin/env bash
# Starts the player under a virtual X server, takes a picture of the screen and keeps it at
# OUTPUT. Fails when no picture was taken or when it is blank (a single colour).
#   screenshot.sh PLAYER OUTPUT.png
set -uo pipefail
player=$1
output=$2
mkdir -p "$(dirname "$output")"
rm -f "$output"

for tool in xvfb-run ffmpeg ffprobe; do
  command -v "$tool" > /dev/null || { echo "screenshot: $tool is missing"; exit 1; }
done

inner=$(mktemp)
trap 'rm -f "$inner"' EXIT
cat > "$inner" <<'INNER'
#!/usr/bin/env bash
player=$1
output=$2
source "$3"
"$player" > "$output.log" 2>&1 &
pid=$!
# Grab until the window has been mapped and drawn: the picture is not one colour, and the same as
# the grab before it (the painting is over). Up to twenty seconds.
previous=
for _ in $(seq 1 80); do
  kill -0 "$pid" 2> /dev/null || { echo "screenshot: the player ended early"; cat "$output.log"; exit 1; }
  if ffmpeg -hide_banner -loglevel error -y -f x11grab -draw_mouse 0 -video_size 1024x768 -i "$DISPLAY" -frames:v 1 "$output" 2> /dev/null; then
    sum=$(md5sum < "$output")
    [ "$sum" = "$previous" ] && [ "$(luma_range "$output" null)" -gt 0 ] && break
    previous=$sum
  fi
  sleep 0.25
done
kill "$pid" 2> /dev/null
wait "$pid" 2> /dev/null
exit 0
INNER
chmod +x "$inner"

# The player looks for a running player on its display; the virtual server is a display of its own.
XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)} QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1024x768x24" "$inner" "$player" "$output" "$(dirname "$0")/screenshot_lib.sh" || { echo "screenshot: xvfb-run failed"; exit 1; }

if [ ! -s "$output" ]; then
  echo "screenshot: no picture was taken"
  exit 1
fi
# A blank screen has one luma value everywhere.
stats=$(ffmpeg -hide_banner -loglevel error -i "$output" -vf "signalstats,metadata=print:file=-" -f null - 2>&1)
ymin=$(printf '%s\n' "$stats" | sed -n 's/.*YMIN=\([0-9.]*\).*/\1/p' | head -1)
ymax=$(printf '%s\n' "$stats" | sed -n 's/.*YMAX=\([0-9.]*\).*/\1/p' | head -1)
if [ -z "$ymin" ] || [ -z "$ymax" ]; then
  echo "screenshot: cannot read the picture: $stats"
  exit 1
fi
if [ "${ymin%.*}" -ge "${ymax%.*}" ]; then
  echo "screenshot: the picture is blank (luma $ymin..$ymax)"
  exit 1
fi
echo "screenshot: $output (luma $ymin..$ymax)"
