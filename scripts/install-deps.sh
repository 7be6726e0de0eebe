#!/usr/bin/env bash
# Installs what building, running and testing Hoplantern needs on Debian 12.
# Idempotent: packages already present are left as they are.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libcap2-bin          # setcap: grants the tracer its raw socket
  iproute2 nftables    # the namespace router paths the tests trace through
  python3              # the namespace fixture and its tests
  clang-14 libclang-rt-14-dev  # the fuzz build: clang with libFuzzer and the sanitizers
  clang-format-14 git  # the layout check of the test command
  xvfb xauth x11-utils imagemagick  # a display for the window, and screenshots of it
  traceroute mtr-tiny iputils-tracepath  # the benchmarks compare against them
  lintian appstream desktop-file-utils bash-completion  # checking the Debian package
  iputils-ping         # the IPv6 path self-checks
  ethtool              # checksum offload off on a tracer's veth, so quoted checksums are final
  chromium             # the HTML report drawn by a browser in the reports test
  qt6-httpserver-dev qt6-websockets-dev  # the watch's metrics listener (HttpServer's CMake files need WebSockets)
  prometheus           # the metrics test scrapes the agent with a real server; promtool checks the rules
  tcpdump              # the RTT accuracy benchmark holds the watch against a capture
  curl                 # the many-targets benchmark times scrapes of the agent
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
