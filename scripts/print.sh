#!/usr/bin/env bash
# Prints a document end to end through the real CUPS print chain (pdftopdf,
# gstoraster, rastertozeru) into the printer's job stream, out/<name>.zeru,
# with PNG previews of its pages when the build has zerudump.
#
# Usage: print.sh [DOCUMENT] [OPTION=VALUE ...]
#   DOCUMENT   default: CUPS's test page
#   OPTION     a job option, e.g. ColorModel=Gray DrvResolution=1200dpi
#              DrvDuplex=DrvDuplexNoTumble copies=2
#   ZERU_PPD   the model's PPD (default: the TX 7M's)
#
# Sets up, builds and installs under /usr (filter, PPDs) and /opt/ZEMRO (the
# colour library) first, so it runs as root.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
doc=${1:-/usr/share/cups/data/testprint}
[ $# -gt 0 ] && shift

[ -r "$doc" ] || { echo "print: cannot read $doc" >&2; exit 1; }
if [ "$(id -u)" -ne 0 ]; then
  echo "print: run as root: the filter and the PPDs are installed under /usr" >&2
  exit 1
fi
doc=$(realpath "$doc")

"$root/scripts/setup.sh"
"$root/scripts/build.sh"
echo "print: installing under /usr"
cmake --install "$build" --prefix /usr >/dev/null

ppd=${ZERU_PPD:-/usr/share/ppd/zemro/ztx7m.ppd}
[ -r "$ppd" ] || { echo "print: no PPD $ppd" >&2; exit 1; }

# cupsfilter takes its filters from the ServerBin of the cups-files.conf it
# is given: a private one, with the system's filters (ours among them, as
# just installed) linked into it.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/serverbin/filter"
for f in /usr/lib/cups/filter/*; do
  ln -s "$f" "$work/serverbin/filter/"
done
[ -x "$work/serverbin/filter/rastertozeru" ] ||
  { echo "print: the filter was not installed in /usr/lib/cups/filter" >&2; exit 1; }
printf 'ServerBin %s\n' "$work/serverbin" >"$work/cups-files.conf"

out=$root/out
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
