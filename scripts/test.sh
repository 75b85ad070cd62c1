#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite:
#   1. the plain build: unit, integration and end-to-end tests, ipptool's
#      IPP Everywhere conformance run among them (label conformance);
#   2. AddressSanitizer + UndefinedBehaviorSanitizer: unit and integration tests
#      and the Printer Application's own end-to-end tests (they skip without PAPPL);
#   3. ThreadSanitizer: unit and integration tests (the app's end-to-end tests
#      take minutes each there and outlast their clients' time limits);
#   4. libFuzzer: a short run of every fuzz target over its corpus.
# Exits non-zero on the first stage that fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/setup.sh"

stage() { printf '\n==== %s ====\n' "$*"; }

stage "plain build: whole suite"
BUILD_DIR="$root/build" "$root/scripts/build.sh"
(cd "$root/build" && ctest --output-on-failure -j"$jobs" --timeout 900)

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
BUILD_DIR="$root/build-asan" BUILD_TYPE=Debug "$root/scripts/build.sh" -DZERU_SANITIZE=address
(cd "$root/build-asan" &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs" --timeout 900 -L '^(unit|integration|app)$')

stage "ThreadSanitizer"
BUILD_DIR="$root/build-tsan" BUILD_TYPE=Debug "$root/scripts/build.sh" -DZERU_SANITIZE=thread
(cd "$root/build-tsan" &&
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j"$jobs" --timeout 900 -L 'unit|integration')

stage "libFuzzer: short runs"
CC=clang CXX=clang++ BUILD_DIR="$root/build-fuzz" BUILD_TYPE=RelWithDebInfo \
  BUILD_TARGETS="fuzz_device_id fuzz_settings fuzz_geometry fuzz_page fuzz_jbig" \
  "$root/scripts/build.sh" -DZERU_SANITIZE=fuzzer
(cd "$root/build-fuzz" && ctest --output-on-failure -j"$jobs" -L fuzz)
