#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds, and runs every test. The namespace tests run
# only as root (they build real router paths); elsewhere they are skipped, saying so.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure --timeout 600
