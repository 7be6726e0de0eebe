#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds, grants the raw-socket capability and traces.
#   scripts/run.sh [HOST]          the window, tracing HOST at once when given
#   scripts/run.sh --cli HOST ...  the terminal tracer (same options as hoplantern-cli)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build_dir=${BUILD_DIR:-build}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

cli=$build_dir/src/cli/hoplantern-cli
gui=$build_dir/src/app/hoplantern
# Reading ICMP answers needs CAP_NET_RAW; a file capability gives it to the tracer
# alone, so it never has to run as root.
for bin in "$cli" "$gui"; do
  [ -x "$bin" ] && as_root setcap cap_net_raw+ep "$bin"
done

if [ "${1:-}" = "--cli" ]; then
  shift
  exec "$cli" "$@"
fi
if [ ! -x "$gui" ]; then
  exec "$cli" "${@:-127.0.0.1}"
fi
exec "$gui" "$@"
