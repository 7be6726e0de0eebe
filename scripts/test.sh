#!/usr/bin/env bash
# Sets up a Debian 12 machine, checks the layout of the C++ files (clang-format), builds
# with warnings as errors, and runs every test, in three builds of their own:
#   build/       the program as it ships: every test
#   build-asan/  the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   build-fuzz/  clang and libFuzzer: the fuzz targets over their saved inputs, then a
#                bounded run of each (tests/fuzz)
# The namespace tests run only as root (they build real router paths); elsewhere they
# are skipped, saying so. Stops at the first build whose tests fail.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

step() { printf '\n==== %s\n' "$*"; }

step "format: every C++ file as .clang-format lays it out"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run --Werror

step "build: every test (warnings are errors)"
CMAKE_ARGS="-DHOPLANTERN_WERROR=ON" scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure --timeout 600

step "build-asan: every test under AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD_DIR=build-asan CMAKE_ARGS="-DHOPLANTERN_SANITIZE=ON -DHOPLANTERN_WERROR=ON" scripts/build.sh
# Qt itself is not instrumented, but the leak check stays on: the whole suite runs
# without a leak report, Qt's own allocations included. Any undefined behaviour already
# ends the process (-fno-sanitize-recover); the stack trace says where.
ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure --timeout 900

step "build-fuzz: the readers of datagrams and settings files under libFuzzer"
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DHOPLANTERN_FUZZ=ON >/dev/null
cmake --build build-fuzz --target fuzz_targets --parallel "$(nproc)"
ctest --test-dir build-fuzz -L fuzz --output-on-failure --timeout 300
