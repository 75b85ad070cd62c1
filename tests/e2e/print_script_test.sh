#!/usr/bin/env bash
# The README's main command: scripts/print.sh builds only what printing needs
# into a build tree of its own, installs it, prints CUPS's test page through
# the real chain and leaves a stream that checks out, with its previews. The
# install goes into overlays of the system's directories, so that the machine
# keeps its own files.
# Usage: print_script_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: print_script_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source=$(cd "${2:?}" && pwd)
source "$source/tests/e2e/common.sh"
enter_private_namespace "$@"

work=$(mktemp -d /tmp/zeru-print.XXXXXX)
trap 'rm -rf "$work"' EXIT

# overlay DIR: what is written into DIR from now on lands in $work.
overlay() {
  local dir=$1 name
  name=$(echo "$dir" | tr / _)
  mkdir -p "$dir" "$work/$name.upper" "$work/$name.work"
  mount -t overlay "overlay$name" \
    -o "lowerdir=$dir,upperdir=$work/$name.upper,workdir=$work/$name.work" "$dir" ||
    fail "cannot overlay $dir"
}
serverbin=$(cache_value "$build" ZERU_CUPS_SERVERBIN)
datadir=$(cache_value "$build" ZERU_CUPS_DATADIR)
for dir in "$serverbin/filter" "$datadir/model" /usr/bin /opt; do
  overlay "$dir"
done

print_build=$work/build
OUT_DIR=$work/out BUILD_DIR=$print_build "$source/scripts/print.sh" >"$work/print.out" 2>&1 ||
  { cat "$work/print.out" >&2; fail "print.sh failed"; }

stream=$work/out/testprint.zeru
[ -s "$stream" ] || fail "print.sh left no job stream"
check_with_zerudump "$stream"
ls "$work/out/previews/"page-*.png >/dev/null 2>&1 || fail "print.sh left no page previews"
grep -q "the stream checks out" "$work/print.out" || fail "print.sh did not check its stream"

# Nothing of the test suite was built for printing.
[ -x "$print_build/tools/zerudump" ] || fail "print.sh did not build zerudump"
for target in tests/unit_tests tests/integration_tests tests/libzerutestengine.so; do
  [ ! -e "$print_build/$target" ] || fail "print.sh built $target"
done
note "print.sh printed the test page with only the printing targets built"
