#!/usr/bin/env bash
# CUPS in front of the Printer Application, as a CUPS 2.4 user prints: a
# private cupsd with a driverless queue (lpadmin -m everywhere) on one
# printer of the app, a three-page PDF printed with lp two-sided; the job
# completes in CUPS, and the stream the app wrote is the core's two-sided
# job: DUPLEX ON, a white filler page for the odd page count, the even page
# first and the odd ones after it (filler, 2, 3, 1). The app and the
# scheduler run in private namespaces from a temporary folder; every client
# call is time-limited and nothing outlives the test.
# Usage: app_cupsd_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: app_cupsd_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
app=$build/printer-app/zeru-printer-app
if [ ! -x "$app" ]; then
  echo "SKIP: no zeru-printer-app in $build (PAPPL was not found)"
  exit 77
fi
[ -x "$build/tools/zerudump" ] || fail "no zerudump in $build: build first"
for tool in cupsd lpadmin lp lpstat gs python3; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup.sh installs it)"
done
enter_private_namespace "$@"

# Filters run as user lp: the work folder must be open to it.
work=$(mktemp -d /tmp/zeru-appcups.XXXXXX)
chmod 0755 "$work"
export SNAP_COMMON=$work/snap
mkdir -p "$SNAP_COMMON" "$work/out"
source "${2:?}/tests/e2e/app_common.sh"

end_test() {
  local status=$?
  stop_private_cupsd "$status"
  stop_app
  show_app_log "$status"
  unstage
  rm -rf "$work"
}
trap end_test EXIT

# Page N of the document covers N tenths of the sheet's height in black:
# the pages tell themselves apart by their ink, upright or turned.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE=a4 -dFIXEDMEDIA \
  -sOutputFile="$work/three.pdf" - <<'PS' >/dev/null 2>&1 || fail "ghostscript could not make the PDF"
%!PS
1 1 3 { /n exch def 0 setgray 100 100 395 n 84 mul rectfill showpage } for
PS

install_library
start_app
app_port=$port
add_printer duplex tx7m
# A new queue reports its up time from its second second on.
sleep 1

start_private_cupsd
note "a driverless queue on the app's printer"
timeout 120 lpadmin -p appq -v "ipp://127.0.0.1:$app_port/ipp/print/duplex" -m everywhere -E \
  2>"$work/log/lpadmin.err" || fail "lpadmin -m everywhere failed: $(cat "$work/log/lpadmin.err")"
lpstat -p appq | grep -q enabled || fail "the queue is not enabled: $(lpstat -p appq)"
grep -q '^\*Duplex' "$work/etc/ppd/appq.ppd" ||
  fail "the queue's PPD has no Duplex option: the app did not offer two-sided printing"

note "printing three pages two-sided"
printed=$(timeout 30 lp -d appq -o sides=two-sided-long-edge "$work/three.pdf") ||
  fail "lp failed: $printed"
id=$(job_id "$printed")
[ -n "$id" ] || fail "lp gave no job id: $printed"
wait_for_job appq "$id"

# The app's job ended too, and left one job stream.
streams=("$work/out/duplex/"*.zeru)
if [ "${#streams[@]}" -ne 1 ] || [ ! -s "${streams[0]}" ]; then
  fail "the app wrote no single job stream: $(ls -l "$work/out/duplex")"
fi
stream=${streams[0]}
facts "$stream" >"$work/stream.facts"
for fact in "clean True" "pages 4" "DUPLEX ON" "RESOLUTION 600" "trailer @PJL EOJ" \
            "page 1 colour A4 600 6817" "page 4 colour A4 600 6817"; do
  expect_fact "$work/stream.facts" "$fact"
done

# Two-sided PJL: three sheets to turn over for three pages and the filler.
"$build/tools/zerudump" --json "$stream" | python3 -c '
import json, sys
d = json.load(sys.stdin)
attrs = d["jobAttributes"]
attrs = attrs if isinstance(attrs, dict) else dict(attrs)
print("MDPXS", d["settings"].get("MDPXS"))
print("PCNT", attrs.get("PCNT"))' >"$work/duplex.facts" || fail "zerudump could not read the stream"
expect_fact "$work/duplex.facts" "MDPXS 3"
expect_fact "$work/duplex.facts" "PCNT 3"

# The order: the filler (no ink), then pages 2, 3 and 1 by their ink.
"$build/tools/zerudump" --png "$work/previews" --scale 8 "$stream" >/dev/null ||
  fail "zerudump could not draw the pages"
python3 - "$work/previews" <<'PY' || fail "the two-sided order is not filler, 2, 3, 1"
import os, sys

from png_rows import read_png

inks = []
files = sorted(f for f in os.listdir(sys.argv[1]) if f.endswith(".png"))
for name in files:
    _, _, bpp, rows = read_png(os.path.join(sys.argv[1], name))
    dark = sum(1 for row in rows for i in range(0, len(row), bpp) if sum(row[i:i + bpp]) < 128 * bpp)
    inks.append(dark / (len(rows) * len(rows[0]) // bpp))
print("previews", files, "dark share", [round(x, 3) for x in inks])
if len(inks) != 4 or inks[0] != 0:
    sys.exit("the first side is not a white filler page")
# Pages 1, 2 and 3 carry ink in the ratio 1 : 2 : 3; the order is 2, 3, 1.
first = inks[3]
if first < 0.03:
    sys.exit("the last side is not page 1")
for share, page in zip(inks[1:], (2, 3, 1)):
    if abs(share / first - page) > 0.15:
        sys.exit(f"a side shows {share / first:.2f} times page 1's ink where page {page} was due")
PY

# The job through CUPS used the app's two-sided printing, not a back side
# the scheduler made: the app's log names the job's sides.
grep -q "two-sided-long-edge" "$work/app.log" || fail "the app's log does not show a two-sided job"
stop_private_cupsd 0
stop_app
note "PASS"
