#!/usr/bin/env bash
# The long form of the Printer Application's soak test: the suite's
# tests/e2e/printer_app_soak_test.sh with many rounds of good and bad
# documents (default 25, about 40 s a round on two cores), its bounds
# unchanged: every job ends, nothing is left behind, the server's RSS after
# the last round within its margin of the RSS after the first.
#
#   ZERU_BUILD=build ZERU_SOAK_ROUNDS=25 bash bench/app_soak.sh
#
# Needs root (private namespaces, as the e2e tests) and a built app.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZERU_BUILD:-$root/build}
export ZERU_SOAK_ROUNDS=${ZERU_SOAK_ROUNDS:-25}
exec bash "$root/tests/e2e/printer_app_soak_test.sh" "$build" "$root"
