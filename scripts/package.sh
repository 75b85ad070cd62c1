#!/usr/bin/env bash
# Builds the Debian packages into out/debs/ and checks them with lintian.
#
#   printer-driver-zemro   the CUPS filter, the four models' PPDs, zerudump
#   zemro-colour-standin   the stand-in colour library
#   zeru-printer-app       the Printer Application and its systemd unit
#
# The build runs in a copy of the working tree's own files (tracked, and new
# ones not ignored), so that no earlier build or output leaks into it.
# A printer owner then installs with: apt install ./out/debs/*.deb
#
# Environment: OUT_DIR (default out/debs), DEB_BUILD_OPTIONS (default
# "nocheck parallel=<cores>": the project's own tests run apart).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${OUT_DIR:-$root/out/debs}
export DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS:-"nocheck parallel=$(nproc)"}

for tool in dpkg-buildpackage dh lintian; do
  command -v "$tool" >/dev/null ||
    { echo "package: $tool is missing: run scripts/setup.sh" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zeru-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/rastertozeru
mkdir -p "$src"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
  tar --null -T - -cf -) | tar -xf - -C "$src"

echo "package: building in $src ($DEB_BUILD_OPTIONS)"
(cd "$src" && dpkg-buildpackage -us -uc -b) >"$work/build.log" 2>&1 ||
  { tail -n 60 "$work/build.log" >&2; echo "package: the package build failed" >&2; exit 1; }

# The packages a printer owner installs in out/debs, their debug symbols
# apart in out/debs/debug.
mkdir -p "$out/debug"
rm -f "$out"/*.deb "$out"/*.changes "$out"/*.buildinfo "$out"/debug/*.deb
cp "$work"/*.changes "$work"/*.buildinfo "$out"/
for deb in "$work"/*.deb; do
  case $deb in
    *-dbgsym_*) cp "$deb" "$out/debug/" ;;
    *) cp "$deb" "$out/" ;;
  esac
done
echo "package: built $(cd "$out" && echo *.deb)"

# lintian on the built packages: no error and no warning.
echo "package: lintian"
shopt -s nullglob
if ! lintian --fail-on error,warning --info "$out"/*.deb "$out"/debug/*.deb; then
  echo "package: lintian found errors or warnings" >&2
  exit 1
fi
echo "package: packages in $out"
