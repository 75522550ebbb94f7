# Shared by the screenshot scripts (sourced): the tools they need, a work folder removed on
# exit, a virtual X server of their own, and measures of a screenshot's area with ffmpeg.

# need_tools TOOL...: fails the script unless every tool is on the path.
need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" > /dev/null || { echo "screenshots: $tool is missing"; exit 1; }
  done
}

# make_work: $work, a temporary folder removed when the script ends.
make_work() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

# in_virtual_display SECONDS COMMAND...: runs COMMAND on a 1024x768 virtual X server with a
# display number of its own (other tests start virtual servers at the same time) and a time
# limit, as xvfb-run waits forever for a server that could not start. Variables set before the
# call reach COMMAND.
in_virtual_display() {
  local seconds=$1; shift
  XDG_RUNTIME_DIR=$(mktemp -d -p "$work") QT_QPA_PLATFORM=xcb \
    timeout "$seconds" xvfb-run -a -n $((200 + RANDOM % 700)) -s "-screen 0 1024x768x24" "$@" < /dev/null
}

# stat_of FILE FILTER KEY: the first value of KEY (e.g. YMIN) that signalstats gives for FILE
# after FILTER (a crop).
stat_of() {
  ffmpeg -nostdin -hide_banner -loglevel error -i "$1" -vf "$2,signalstats,metadata=print:file=-" -f null - 2>&1 \
    | sed -n "s/.*lavfi.signalstats.$3=\([0-9.]*\).*/\1/p" | head -1
}
# luma_range FILE FILTER: the spread of luma in the area; 0 when it cannot be read.
luma_range() {
  local lo hi
  lo=$(stat_of "$1" "$2" YMIN); hi=$(stat_of "$1" "$2" YMAX)
  [ -n "$lo" ] && [ -n "$hi" ] || { echo 0; return; }
  echo $(( ${hi%.*} - ${lo%.*} ))
}
# crop_md5 FILE FILTER: the MD5 of the area's pixels.
crop_md5() { ffmpeg -nostdin -hide_banner -loglevel error -i "$1" -vf "$2" -f md5 - 2>/dev/null; }
# tile_crop: the crop filter of a tile's lower half, below its title, from "x y w h" on stdin.
tile_crop() { local x y w h; read -r x y w h; echo "crop=$w:$((h / 2 - 2)):$x:$((y + h / 2))"; }
