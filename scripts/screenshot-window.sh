#!/usr/bin/env bash
# Shows the main window on a virtual display and saves a picture of that display.
#   scripts/screenshot-window.sh [OUT.png] [HOST...]
# The window runs with settings of its own in a temporary folder, so the user's are
# neither read nor changed. HOPLANTERN names another binary; BUILD_DIR another build;
# SCREEN the virtual display (WIDTHxHEIGHTxDEPTH, by default 1024x640x24).
# Needs xvfb-run (xvfb, xauth), import (imagemagick) and xwininfo (x11-utils).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-hoplantern-window.png}")
[ $# -gt 0 ] && shift
bin=$(realpath -m "${HOPLANTERN:-${BUILD_DIR:-build}/src/app/hoplantern}")
for tool in xvfb-run import xwininfo; do
  command -v "$tool" >/dev/null || { echo "screenshot-window: $tool is missing" >&2; exit 1; }
done
[ -x "$bin" ] || { echo "screenshot-window: no program at $bin (build first)" >&2; exit 1; }

config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT

# Runs on the virtual display: start the window, wait until it is mapped and has had a
# moment to paint (a trace given on the command line gets a few seconds), take the picture.
shoot='
out=$1 bin=$2 settle=$3
shift 3
"$bin" "$@" &
pid=$!
for _ in $(seq 100); do
  xwininfo -name "Veltrosyn hoplantern" >/dev/null 2>&1 && break
  kill -0 "$pid" 2>/dev/null || { echo "screenshot-window: the program ended early" >&2; exit 1; }
  sleep 0.1
done
sleep "$settle"
import -window root "$out"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
'

settle=1
[ $# -gt 0 ] && settle=${SETTLE:-6}
XDG_CONFIG_HOME=$config xvfb-run -a -s "-screen 0 ${SCREEN:-1024x640x24}" \
  bash -c "$shoot" shoot "$out" "$bin" "$settle" "$@"
echo "$out"
