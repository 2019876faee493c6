#!/usr/bin/env bash
# Installs whatever is missing, builds, writes a 4K DPX test sequence and shows its first frame
# in the viewer under Wine. Without a display it runs under Xvfb, saves a screenshot to
# build/demo.png and closes the viewer again.
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages
build_release
build_win32

sample=build/demo-sequence
if [ ! -f "$sample/demo_0001.dpx" ]; then
  log "writing a 4K DPX sequence to $sample"
  mkdir -p "$sample"
  "$RELEASE_DIR/tools/zelkora-testpattern" --format dpx --size 4k --frames 24 "$sample" demo \
    >/dev/null
fi
prefix=$(wine_prefix wine-demo)
first=$(winepath -w "$sample/demo_0001.dpx" 2>/dev/null || echo "$sample/demo_0001.dpx")

if [ -n "${DISPLAY:-}" ]; then
  log "zelkora.exe $first  (arrows play, . and , step, Home and End jump, Q quits)"
  WINEPREFIX="$prefix" wine "$WIN32_DIR/zelkora.exe" "$first"
  exit 0
fi

log "no display: running under Xvfb, screenshot to build/demo.png"
xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
  WINEPREFIX="$1" wine "$2" "$3" &
  viewer=$!
  for _ in $(seq 1 60); do
    xdotool search --name "^Zelkora$" >/dev/null 2>&1 && break
    sleep 0.5
  done
  sleep 2
  import -window root build/demo.png
  # No window manager here: give the window the focus directly, then Q quits the viewer.
  window=$(xdotool search --name "^Zelkora$" | head -n 1)
  xdotool windowfocus --sync "$window" key q 2>/dev/null || kill "$viewer"
  wait "$viewer" || true
' demo "$prefix" "$WIN32_DIR/zelkora.exe" "$first"
log "saved build/demo.png"
