#!/usr/bin/env bash
# Prints a document end to end through the real CUPS print chain (pdftopdf,
# gstoraster, rastertozeru) into the printer's job stream, out/<name>.zeru,
# with PNG previews of its pages when the build has zerudump.
#
# Usage: print.sh [DOCUMENT] [OPTION=VALUE ...]
#   DOCUMENT   default: CUPS's test page (also when the first argument is an
#              option)
#   OPTION     a job option, e.g. ColorModel=Gray cupsPrintQuality=High
#              Duplex=DuplexNoTumble copies=2
#   OUT_DIR    where the stream, report, log and previews go (default out/)
#   ZERU_PPD   the model: ztx7m (the default), ztx7, ztx7mn or ztx7n, with or
#              without ".ppd", or the path of a PPD file
#
# Sets up first (Debian packages, CUPS among them), then builds and installs
# under /usr (filter and PPDs in CUPS's directories) and /opt/ZEMRO (the
# colour library stand-in, unless a maker's library is installed there), so
# it runs as root.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

if [ "$(id -u)" -ne 0 ]; then
  echo "print: run as root: packages are installed, and the filter and the PPDs go under /usr" >&2
  exit 1
fi
# CUPS, and with it the default document, comes with the setup.
"$root/scripts/setup.sh"

# The document is optional: a first argument that is an option and not a
# file is the first option.
doc=/usr/share/cups/data/testprint
if [ $# -gt 0 ] && ! [[ $1 == *=* && ! -e $1 ]]; then
  doc=$1
  shift
fi
[ -r "$doc" ] || { echo "print: cannot read $doc" >&2; exit 1; }
doc=$(realpath "$doc")

# Only what printing installs and uses: the filter, the colour library
# stand-in, the PPDs and the stream inspector; the test suite is not built.
BUILD_DIR=$build BUILD_TARGETS="rastertozeru zeruengine ppds zerudump" "$root/scripts/build.sh"
echo "print: installing under /usr"
# The filter, the PPDs and zerudump; the Printer Application is not needed.
cmake --install "$build" --prefix /usr --component Unspecified >/dev/null
cmake --install "$build" --prefix /usr --component engine >/dev/null

# The directories the build installed into: CUPS's own, as cups-config gave them.
cache_value() {
  sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"
}
filter_dir=$(cache_value ZERU_CUPS_SERVERBIN)/filter
ppd_dir=$(cache_value ZERU_CUPS_DATADIR)/model/zemro

choice=${ZERU_PPD:-ztx7m}
model=${choice%.ppd}
model=${model,,}
if [[ $choice != */* && -r $ppd_dir/$model.ppd ]]; then
  ppd=$ppd_dir/$model.ppd
elif [ -r "$choice" ]; then
  ppd=$(realpath "$choice")
else
  models=()
  for f in "$ppd_dir"/*.ppd; do
    [ -e "$f" ] && models+=("$(basename "$f" .ppd)")
  done
  echo "print: ZERU_PPD=$choice is neither a model (${models[*]}) nor a PPD file" >&2
  exit 1
fi

# cupsfilter takes its filters from the ServerBin of the cups-files.conf it
# is given: a private one, with the system's filters (ours among them, as
# just installed) linked into it.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/serverbin/filter"
for f in "$filter_dir"/*; do
  ln -s "$f" "$work/serverbin/filter/"
done
[ -x "$work/serverbin/filter/rastertozeru" ] ||
  { echo "print: the filter was not installed in $filter_dir" >&2; exit 1; }
printf 'ServerBin %s\n' "$work/serverbin" >"$work/cups-files.conf"

out=${OUT_DIR:-$root/out}
name=$(basename "$doc")
name=${name%.*}
stream=$out/$name.zeru
log=$out/$name.log
mkdir -p "$out"

options=()
for option in "$@"; do
  options+=(-o "$option")
done

echo "print: printing $doc with $(basename "$ppd")"
if ! cupsfilter -c "$work/cups-files.conf" -p "$ppd" -m printer/zemro -e \
     "${options[@]}" "$doc" >"$stream" 2>"$log"; then
  grep -E '^(ERROR|INFO: .*exited|INFO: .*crashed)' "$log" | tail -n 10 >&2 || true
  echo "print: the print chain failed; its messages are in $log" >&2
  exit 1
fi
if [ ! -s "$stream" ]; then
  echo "print: the filter wrote nothing; its messages are in $log" >&2
  exit 1
fi
echo "print: job stream in $stream ($(stat -c %s "$stream") bytes)"
echo "print: messages of the chain in $log; the filter's own log is /tmp/zemro_filter.log"

if [ -x "$build/tools/zerudump" ]; then
  mkdir -p "$out/previews"
  report=$out/$name.txt
  status=0
  "$build/tools/zerudump" --png "$out/previews" --scale 2 "$stream" >"$report" 2>&1 || status=$?
  case $status in
    0) echo "print: the stream checks out; its report is in $report" ;;
    1) echo "print: zerudump found problems in the stream; see $report" >&2 ;;
    *) echo "print: zerudump could not read the stream or write the previews; see $report" >&2
       exit 1 ;;
  esac
  echo "print: page previews in $out/previews/"
  exit "$status"
else
  echo "print: the build has no zerudump, so there are no previews"
fi
