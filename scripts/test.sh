#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite:
#   1. the plain build: unit, integration and end-to-end tests, ipptool's
#      IPP Everywhere conformance run among them (label conformance);
#   2. the Debian packages: built (scripts/package.sh) and checked with
#      lintian, installed, their autopkgtest tests run, upgraded to
#      themselves, purged, installed again and purged (scripts/package-check.sh);
#   3. AddressSanitizer + UndefinedBehaviorSanitizer: unit and integration tests
#      and the Printer Application's own end-to-end tests (they skip without PAPPL);
#   4. ThreadSanitizer: unit and integration tests and the Printer
#      Application's tests of its threads (two printers at once, spooled and
#      streamed formats, the web pages and test page);
#   5. libFuzzer: a short run of every fuzz target over its corpus;
#   6. other platforms (scripts/platforms.sh): a Debian 13 root with the
#      plain build, its whole suite and the package stage; the arm64 and
#      armhf cross builds with their unit and integration tests under qemu.
#      ZERU_PLATFORMS lists which: "trixie arm64 armhf" when unset, "" for
#      none. Their roots are made, and their packages installed, while this
#      machine makes its plain build: on a machine without the cached roots
#      that is downloading and unpacking, mostly.
# Exits non-zero on the first stage that fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/setup.sh"

platforms=${ZERU_PLATFORMS-trixie arm64 armhf}

stage() { printf '\n==== %s ====\n' "$*"; }

platform_setup_log=$(mktemp)
trap 'rm -f "$platform_setup_log"' EXIT
(for platform in $platforms; do "$root/scripts/platforms.sh" "$platform" setup || exit 1; done) \
  >"$platform_setup_log" 2>&1 &
platform_setup=$!

stage "plain build: whole suite"
BUILD_DIR="$root/build" "$root/scripts/build.sh"
# The suite runs on a machine that does nothing else.
if ! wait "$platform_setup"; then
  cat "$platform_setup_log" >&2
  echo "test: the platforms' roots could not be set up" >&2
  exit 1
fi
grep '^platforms: ' "$platform_setup_log" || true
(cd "$root/build" && ctest --output-on-failure -j"$jobs" --timeout 900)

stage "Debian packages: build, lintian, install, autopkgtest, purge"
package_start=$SECONDS
# Without the debug symbol packages, which the check does not use.
DEB_BUILD_OPTIONS="nocheck noautodbgsym parallel=$jobs" "$root/scripts/package.sh"
"$root/scripts/package-check.sh" "$root/out/debs"
echo "Debian packages: $((SECONDS - package_start)) s"

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
BUILD_DIR="$root/build-asan" BUILD_TYPE=Debug "$root/scripts/build.sh" -DZERU_SANITIZE=address
(cd "$root/build-asan" &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs" --timeout 900 -L '^(unit|integration|app)$')

stage "ThreadSanitizer"
BUILD_DIR="$root/build-tsan" BUILD_TYPE=Debug "$root/scripts/build.sh" -DZERU_SANITIZE=thread
(cd "$root/build-tsan" &&
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j"$jobs" --timeout 900 -L 'unit|integration|threads')

stage "libFuzzer: short runs"
CC=clang CXX=clang++ BUILD_DIR="$root/build-fuzz" BUILD_TYPE=RelWithDebInfo \
  BUILD_TARGETS="fuzz_device_id fuzz_settings fuzz_geometry fuzz_page fuzz_jbig" \
  "$root/scripts/build.sh" -DZERU_SANITIZE=fuzzer
(cd "$root/build-fuzz" && ctest --output-on-failure -j"$jobs" -L fuzz)

for platform in $platforms; do
  stage "platform: $platform"
  platform_start=$SECONDS
  "$root/scripts/platforms.sh" "$platform"
  echo "platform $platform: $((SECONDS - platform_start)) s"
done
