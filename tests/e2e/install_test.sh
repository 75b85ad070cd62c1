#!/usr/bin/env bash
# What cmake --install puts where, in staging roots: a plain install puts the
# filter and the PPDs where cups-config says the spooler looks and leaves the
# colour library alone; the engine component installs the stand-in, replaces
# an earlier stand-in of ours, and never touches a maker's library.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: install_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/zeru-install.XXXXXX")
trap 'rm -rf "$work"' EXIT

standin=$build/engine/libzeruengine.so
[ -f "$standin" ] || fail "no stand-in colour library in $build: build first"
lib=/opt/ZEMRO/lib
main="ZEMRO TX 7Mcl.so"
aliases=("ZEMRO TX 7cl.so" "ZEMRO TX 7MNcl.so" "ZEMRO TX 7Ncl.so")

# install_into ROOT [ARGS...]: cmake --install into the staging root ROOT;
# what it prints is in ROOT.out.
install_into() {
  local root=$1
  shift
  DESTDIR=$root cmake --install "$build" "$@" >"$root.out" 2>&1 ||
    { cat "$root.out" >&2; fail "cmake --install $* into $root failed"; }
}

# maker_file PATH: a file that stands for a maker's library.
maker_file() {
  mkdir -p "$(dirname "$1")"
  printf '\177ELF the maker %s\n' "$(basename "$1")" >"$1"
}

same_file() {
  cmp -s "$1" "$2" || fail "$1 is not $2"
}

is_link_to_main() {
  if [ ! -L "$1" ] || [ "$(readlink "$1")" != "$main" ]; then
    fail "$1 is not a link to $main"
  fi
}

note "a plain install: the filter and the PPDs in the spooler's directories, no colour library"
install_into "$work/plain"
serverbin=$(cups-config --serverbin)
datadir=$(cups-config --datadir)
[ -x "$work/plain$serverbin/filter/rastertozeru" ] ||
  fail "the filter is not in $serverbin/filter: $(cat "$work/plain.out")"
for model in ztx7m ztx7 ztx7mn ztx7n; do
  [ -f "$work/plain$datadir/model/zemro/$model.ppd" ] || fail "$model.ppd is not in $datadir/model/zemro"
done
[ -n "$(find "$work/plain" -path '*/bin/zerudump' -type f -perm -u+x)" ] || fail "zerudump was not installed"
[ ! -e "$work/plain/opt" ] || fail "a plain install put files under /opt"

note "the engine component into an empty root"
install_into "$work/fresh" --component engine
same_file "$work/fresh$lib/$main" "$standin"
for name in "${aliases[@]}"; do is_link_to_main "$work/fresh$lib/$name"; done
! grep -q 'Warning' "$work/fresh.out" || fail "warnings in a clean install: $(cat "$work/fresh.out")"

note "a maker's library at the first name, and one behind a link, are left in place"
root=$work/maker
maker_file "$root$lib/$main"
maker_file "$root$lib/libzemro-tx7.so.1"
ln -s libzemro-tx7.so.1 "$root$lib/${aliases[0]}"
cp -a "$root$lib" "$work/maker-before"
install_into "$root" --component engine
diff -r --no-dereference "$work/maker-before" "$root$lib" >&2 || fail "the install changed the maker's libraries"
grep -qF "A maker's colour library is installed at" "$root.out" || fail "no warning: $(cat "$root.out")"
for name in "$main" "${aliases[0]}"; do
  grep -qF "  $root$lib/$name" "$root.out" || fail "the warning does not name $name: $(cat "$root.out")"
done
grep -qF "the stand-in colour library is not installed" "$root.out" || fail "$(cat "$root.out")"

note "a maker's library at a later name keeps the stand-in from being installed before it"
root=$work/later
maker_file "$root$lib/${aliases[2]}"
install_into "$root" --component engine
[ "$(ls "$root$lib")" = "${aliases[2]}" ] || fail "the install added files beside the maker's library"
grep -qF "  $root$lib/${aliases[2]}" "$root.out" || fail "no warning: $(cat "$root.out")"

note "an earlier stand-in of ours is replaced, a maker's library beside it is not"
root=$work/upgrade
mkdir -p "$root$lib"
{ cat "$standin"; echo "an older build"; } >"$root$lib/$main"
cp "$root$lib/$main" "$root$lib/${aliases[0]}"
ln -s "$main" "$root$lib/${aliases[1]}"
maker_file "$root$lib/${aliases[2]}"
cp "$root$lib/${aliases[2]}" "$work/upgrade-maker"
install_into "$root" --component engine
same_file "$root$lib/$main" "$standin"
is_link_to_main "$root$lib/${aliases[0]}"
is_link_to_main "$root$lib/${aliases[1]}"
[ ! -L "$root$lib/${aliases[2]}" ] || fail "${aliases[2]} was replaced by a link"
same_file "$root$lib/${aliases[2]}" "$work/upgrade-maker"
grep -qF "the filter loads the stand-in colour library at" "$root.out" ||
  fail "no warning that the stand-in is loaded first: $(cat "$root.out")"

note "the install tree is as expected"
