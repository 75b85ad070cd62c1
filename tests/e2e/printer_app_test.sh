#!/usr/bin/env bash
# The Printer Application end to end: the app serves on a free loopback port
# from a temporary folder (state file, spool directory, CLI socket there),
# one file printer a model; PWG raster jobs (sRGB and sGray, 600 and 1200
# dpi, one- and two-sided, colour and monochrome) sent with ipptool and with
# the app's own submit give job streams whose PJL values, pages and planes
# zerudump reads back; a vendor value outside its supported list aborts its
# job with a message and the next job prints; without the colour library the
# app keeps serving and stops the printer. Every client call is time-limited;
# the app runs in a private mount and process namespace, with the stand-in
# colour library where the core looks for it, and nothing outlives the test.
# Usage: printer_app_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: printer_app_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
source "$2/tests/e2e/app_common.sh"
app_test_begin "$@"
app_test_cleanup() {
  umount "$work/out/full" 2>/dev/null || true
}

# ---- Documents: A4 PWG rasters made by Ghostscript ----
cat >"$work/doc.ps" <<'PS'
%!PS
/Helvetica findfont 40 scalefont setfont
1 1 2 {
  /n exch def
  1 0 0 setrgbcolor 60 640 200 120 rectfill
  0 0.6 1 setrgbcolor 320 640 200 120 rectfill
  0 setgray 72 200 moveto (Page ) show n 4 string cvs show
  showpage
} for
PS
pwg() {
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -sPAPERSIZE=a4 -dFIXEDMEDIA \
     -dcupsColorSpace="$1" -dcupsBitsPerColor=8 -r"$2" -sOutputFile="$3" "$work/doc.ps" ||
    fail "ghostscript could not make $3"
}
pwg 19 600 "$work/srgb-600.pwg"
pwg 18 600 "$work/sgray-600.pwg"
pwg 19 1200 "$work/srgb-1200.pwg"
pwg 18 1200 "$work/sgray-1200.pwg"

install_library
start_app

# ---- The server: loopback only, state and spool where it was told ----
if command -v ss >/dev/null; then
  listeners=$(ss -ltnH "sport = :$port" | awk '{print $4}')
  [ -n "$listeners" ] || fail "nothing listens on port $port"
  while read -r address; do
    case $address in 127.0.0.1:* | "[::1]:"*) ;; *) fail "the app listens on $address" ;; esac
  done <<<"$listeners"
fi

models=(tx7m tx7 tx7mn tx7n)
for model in "${models[@]}"; do
  mkdir -p "$work/out/$model"
  client add -d "$model" -m "zemro_$model" -v "file://$work/out/$model?ext=zeru" ||
    fail "the app refused a $model printer"
done
client drivers >"$work/drivers" || fail "drivers failed"
grep -qxF 'zemro_tx7mn "ZEMRO TX 7MN" "MFG:ZEMRO;CMD:PJL,ZERU;MDL:TX 7MN;CLS:PRINTER;DES:ZEMRO TX 7MN;"' \
  "$work/drivers" || fail "the drivers are not the PPDs' models: $(cat "$work/drivers")"
for model in "${models[@]}"; do
  grep -q "^zemro_$model " "$work/drivers" || fail "no driver zemro_$model"
done
wait_for 10 test -s "$work/app.state" || fail "no state in $work/app.state"
grep -q "tx7mn" "$work/app.state" || fail "the state file lacks the printers"
[ -d "$work/app-spool" ] || fail "the app did not make its spool directory"
# A new queue reports its up time from its second second on.
sleep 1

# ---- What a printer offers ----
attrs=$(ipp_request attributes tx7m "$(operation Get-Printer-Attributes)
  ATTR keyword requested-attributes all,media-col-database,brightness-supported,brightness-default,density-black-high-supported,toner-saving-supported,skip-blank-pages-default
  STATUS successful-ok")
expect_attr() {
  grep -qE "^ *$1 \([^)]*\) = $2\$" <<<"$attrs" ||
    fail "printer attribute $1 is not '$2': $(grep -E "^ *$1 " <<<"$attrs")"
}
expect_attr printer-make-and-model "ZEMRO TX 7M"
# PAPPL makes the printer's device ID of the make, the model and the
# document formats; the driver list carries the PPD's.
expect_attr printer-device-id "MFG:ZEMRO;MDL:TX 7M;CMD:.*"
expect_attr sides-supported "one-sided,two-sided-long-edge,two-sided-short-edge"
expect_attr printer-resolution-supported "600dpi,1200dpi"
expect_attr print-quality-supported "draft,normal,high"
expect_attr print-color-mode-supported ".*monochrome.*"
expect_attr media-supported ".*iso_a4_210x297mm.*om_a5-lef_210x148mm.*custom_min_3x5in,custom_max_8.5x14in"
expect_attr media-default "iso_a4_210x297mm"
expect_attr brightness-supported "-100,-90,-80,-70,-60,-50,-40,-30,-20,-10,0,10,20,30,40,50,60,70,80,90,100"
expect_attr brightness-default "0"
expect_attr density-black-high-supported "-3,-2,-1,0,1,2,3"
expect_attr toner-saving-supported "off,level-1,level-2,level-3"
expect_attr skip-blank-pages-default "false"
expect_attr job-creation-attributes-supported ".*brightness.*density-yellow-low.*skip-blank-pages.*"

# ---- Jobs ----
note "jobs"
id=$(print_job colour-600 tx7m "$work/srgb-600.pwg" "  ATTR keyword print-color-mode color")
[ "$(wait_job colour-600 tx7m "$id")" = completed ] || fail "colour-600 did not complete"
id=$(print_job gray-duplex tx7 "$work/sgray-600.pwg" "  ATTR keyword sides two-sided-long-edge
  ATTR keyword print-color-mode monochrome")
[ "$(wait_job gray-duplex tx7 "$id")" = completed ] || fail "gray-duplex did not complete"
id=$(print_job high tx7mn "$work/srgb-1200.pwg" "  ATTR enum print-quality 5
  ATTR keyword sides two-sided-short-edge")
[ "$(wait_job high tx7mn "$id")" = completed ] || fail "high did not complete"
# The app's own client, with a monochrome job of a colour raster.
submitted=$(client submit -d tx7n -o print-color-mode=monochrome -o brightness=20 \
  "$work/srgb-600.pwg") || fail "submit failed"
id=${submitted##*-}
[ "$(wait_job submitted tx7n "$id")" = completed ] || fail "the submitted job did not complete"

facts "$work/out/tx7m/colour-600.zeru" >"$work/colour-600.facts"
for fact in "clean True" "pages 2" "DUPLEX OFF" "RENDERMODE COLOR" "RESOLUTION 600" \
            "page 1 colour A4 600 6817" "page 2 colour A4 600 6817" "trailer @PJL EOJ"; do
  expect_fact "$work/colour-600.facts" "$fact"
done
facts "$work/out/tx7/gray-duplex.zeru" >"$work/gray-duplex.facts"
for fact in "clean True" "pages 2" "DUPLEX ON" "RENDERMODE GRAYSCALE" "RESOLUTION 600" \
            "page 1 gray A4 600 6817" "page 2 gray A4 600 6817"; do
  expect_fact "$work/gray-duplex.facts" "$fact"
done
facts "$work/out/tx7mn/high.zeru" >"$work/high.facts"
for fact in "clean True" "pages 2" "DUPLEX ON" "RENDERMODE COLOR" "RESOLUTION 1200" \
            "page 1 colour A4 1200 13633"; do
  expect_fact "$work/high.facts" "$fact"
done
submitted_file=$(ls "$work/out/tx7n/"*.zeru)
facts "$submitted_file" >"$work/submitted.facts"
for fact in "clean True" "pages 2" "DUPLEX OFF" "RENDERMODE GRAYSCALE" "page 1 gray A4 600 6817"; do
  expect_fact "$work/submitted.facts" "$fact"
done

# ---- PDF through Ghostscript, copies made by the core ----
note "PDF"
make_pdf 3 "$work/three.pdf"
submitted=$(client submit -d tx7mn -o copies=2 -o sides=two-sided-long-edge "$work/three.pdf") ||
  fail "submit of a PDF failed"
id=${submitted##*-}
[ "$(wait_job pdf tx7mn "$id")" = completed ] || fail "the PDF job did not complete"
pdf_file=$(ls -t "$work/out/tx7mn/"*.zeru | head -n 1)
facts "$pdf_file" >"$work/pdf.facts"
# Three pages and the two-sided filler page, sent once for each collated copy.
for fact in "clean True" "pages 8" "DUPLEX ON" "RENDERMODE COLOR" "RESOLUTION 600" \
            "page 1 colour A4 600 6817" "page 8 colour A4 600 6817"; do
  expect_fact "$work/pdf.facts" "$fact"
done
# Both copies of each page count as printed impressions (the filler does not).
for attr in job-impressions job-impressions-completed; do
  count=$(job_state pdf tx7mn "$id" "$attr")
  [ "$count" = 6 ] || fail "the PDF job's $attr is '$count', not 6"
done
# print-quality as the PPDs mean it: high is 1200 dpi, normal 600 dpi unless
# the job names printer-resolution.
make_pdf 1 "$work/one.pdf"
for quality in "high 5 1200" "normal-1200 4 1200"; do
  read -r name value dpi <<<"$quality"
  extra=()
  [ "$name" = normal-1200 ] && extra=(-o printer-resolution=1200dpi)
  submitted=$(client submit -d tx7 -o print-quality="$value" "${extra[@]}" "$work/one.pdf") ||
    fail "submit of the $name PDF failed"
  id=${submitted##*-}
  [ "$(wait_job "pdf-$name" tx7 "$id")" = completed ] || fail "the $name PDF did not complete"
  facts "$(ls -t "$work/out/tx7/"*.zeru | head -n 1)" >"$work/pdf-$name.facts"
  expect_fact "$work/pdf-$name.facts" "RESOLUTION $dpi"
done
# A file that says it is a PDF but is not: Ghostscript renders no page.
printf '%%PDF-1.4\nnot a document\n' >"$work/broken.pdf"
submitted=$(client submit -d tx7mn "$work/broken.pdf") || fail "submit of a broken PDF failed"
id=${submitted##*-}
[ "$(wait_job broken tx7mn "$id")" = aborted ] || fail "the broken PDF was not aborted"
message=$(job_state broken tx7mn "$id" job-state-message)
grep -q "no pages" <<<"$message" || fail "the broken PDF's message does not say why: '$message'"

# ---- A device that refuses the job: the job ends with the reason ----
note "a full device"
mkdir -p "$work/out/full"
mount -t tmpfs -o size=16k zeru-app-full "$work/out/full" || fail "cannot mount a small tmpfs"
client add -d full -m zemro_tx7m -v "file://$work/out/full?ext=zeru" || fail "no printer full"
sleep 1
id=$(print_job too-big full "$work/sgray-1200.pwg")
[ "$(wait_job too-big full "$id")" = aborted ] || fail "a job the device refused was not aborted"
message=$(job_state too-big full "$id" job-state-message)
grep -qi "space" <<<"$message" || fail "the refused job's message does not say why: '$message'"
client status >/dev/null || fail "the app stopped serving after a device error"

# ---- Cancelling a PDF job while it prints ----
note "cancel"
make_pdf 40 "$work/long.pdf"
submitted=$(client submit -d tx7 "$work/long.pdf") || fail "submit of a long PDF failed"
id=${submitted##*-}
deadline=$((SECONDS + $(scaled 60)))
until [ "$(job_state long tx7 "$id" job-impressions-completed)" -ge 2 ] 2>/dev/null; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the long job does not get going"
  sleep 0.2
done
client jobs -d tx7 | grep -q "^$id processing " || fail "jobs does not list the long job as processing"
client cancel -d tx7 -j "$id" || fail "cancel failed"
[ "$(wait_job long tx7 "$id")" = canceled ] || fail "the long job was not cancelled"
long_file=$(ls -t "$work/out/tx7/"*.zeru | head -n 1)
ends_with "$long_file" "${UEL}@PJL EOJ Abort"$'\r\n' || fail "the cancelled job's stream lacks the abort trailer"
# The printer takes the next job.
id=$(print_job after-cancel tx7 "$work/sgray-600.pwg")
[ "$(wait_job after-cancel tx7 "$id")" = completed ] || fail "the job after the cancel failed"

# ---- The same pages through the filter: the same job stream ----
# The CUPS route hands the filter the imageable area of each page, 12 points
# in from the left and top edges: A4 is 4758 x 6817 dots from dot 100 at 600
# dpi, 9517 x 13633 from dot 200 at 1200 dpi. The app, given the whole sheet,
# must send the printer what the filter sends for those pages.
masked() {
  python3 -c '
import re, sys
data = open(sys.argv[1], "rb").read()
sys.stdout.buffer.write(re.sub(rb"(@PJL SET JOBATTR=(DATE|TIME):)[^\r\n]*", rb"\1", data))' "$1"
}
compare_with_filter() {
  local name=$1 pwgfile=$2 sides=$3 duplex=$4 cut=$5
  note "$name: the app and the filter"
  id=$(print_job "$name" tx7m "$pwgfile" "  ATTR keyword sides $sides")
  [ "$(wait_job "$name" tx7m "$id")" = completed ] || fail "$name did not complete"
  # shellcheck disable=SC2086  # the cut's numbers are separate arguments
  "$build/tests/imageable_raster" "$pwgfile" "$work/$name.ras" $cut 595 842 ||
    fail "cannot cut $pwgfile"
  PPD=$build/ppd/ppd/ztx7m.ppd timeout "$(scaled 120)" "$build/rastertozeru" 1 tester "$name" 1 \
    "Duplex=$duplex" "$work/$name.ras" >"$work/$name.filter" 2>"$work/$name.filter.err" ||
    { tail -n 5 "$work/$name.filter.err" >&2; fail "the filter failed on $name"; }
  masked "$work/out/tx7m/$name.zeru" >"$work/$name.app.masked"
  masked "$work/$name.filter" >"$work/$name.filter.masked"
  cmp -s "$work/$name.app.masked" "$work/$name.filter.masked" ||
    fail "$name: the app's job stream differs from the filter's: $(cmp "$work/$name.app.masked" "$work/$name.filter.masked")"
}
[ -x "$build/rastertozeru" ] && [ -x "$build/tests/imageable_raster" ] ||
  fail "no rastertozeru or imageable_raster in $build: build first"
compare_with_filter same-colour-600 "$work/srgb-600.pwg" one-sided None "100 100 4758 6817"
compare_with_filter same-gray-1200 "$work/sgray-1200.pwg" two-sided-long-edge DuplexNoTumble \
  "200 200 9517 13633"

# ---- A vendor value outside its list aborts its job; the next job prints ----
note "a bogus vendor value"
id=$(print_job bogus tx7m "$work/srgb-600.pwg" "  ATTR integer brightness 33")
[ "$(wait_job bogus tx7m "$id")" = aborted ] || fail "the job with brightness 33 was not aborted"
message=$(job_state bogus tx7m "$id" job-state-message)
grep -q "brightness" <<<"$message" && grep -q "33" <<<"$message" ||
  fail "the aborted job's message does not say why: '$message'"
id=$(print_job after-bogus tx7m "$work/sgray-600.pwg" "  ATTR integer brightness 30
  ATTR keyword toner-saving level-2
  ATTR boolean skip-blank-pages true")
[ "$(wait_job after-bogus tx7m "$id")" = completed ] || fail "the job after the bogus one failed"
facts "$work/out/tx7m/after-bogus.zeru" >"$work/after-bogus.facts"
expect_fact "$work/after-bogus.facts" "clean True"
expect_fact "$work/after-bogus.facts" "pages 2"

# The shutdown sub-command; one more connection wakes the server's loop.
stopped_pid=$app_pid
client shutdown || fail "shutdown failed"
(exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || true
deadline=$((SECONDS + $(scaled 60)))
while kill -0 "$stopped_pid" 2>/dev/null; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the app did not shut down"
  sleep 0.2
done
wait "$stopped_pid" 2>/dev/null || true
app_pid=

# ---- Stopped while a client streams its pages: the server ends cleanly ----
note "stopped during a job"
start_app
print_job stopped tx7m "$work/srgb-1200.pwg" >/dev/null 2>&1 &
client_pid=$!
# PAPPL 1.3.1 on Debian 13 leaves the page number out of this line.
wait_for 60 grep -qE "\[Job [0-9]+\] Page (1 | )raster data" "$work/app.log" ||
  fail "the streamed job does not get going"
stopped_pid=$app_pid
kill -TERM "$stopped_pid"
deadline=$((SECONDS + $(scaled 60)))
while kill -0 "$stopped_pid" 2>/dev/null; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the app did not stop during a job"
  sleep 0.2
done
status=0
wait "$stopped_pid" 2>/dev/null || status=$?
[ "$status" = 0 ] || fail "the app stopped during a job with status $status"
wait "$client_pid" 2>/dev/null || true
app_pid=$stopped_pid
stop_app

# ---- Without the colour library: the app serves, the printer stops ----
note "no colour library"
unstage
start_app
id=$(print_job no-library tx7m "$work/srgb-600.pwg")
[ "$(wait_job no-library tx7m "$id")" = aborted ] || fail "a job without the colour library was not aborted"
message=$(job_state no-library tx7m "$id" job-state-message)
grep -q "colour library" <<<"$message" || fail "the job's message does not name the colour library: '$message'"
state=$(ipp_request stopped tx7m "$(operation Get-Printer-Attributes)
  ATTR keyword requested-attributes printer-state,printer-state-reasons
  STATUS successful-ok")
grep -qE "printer-state \(enum\) = stopped" <<<"$state" || fail "the printer is not stopped: $state"
client status >/dev/null || fail "the app stopped serving"
stop_app

# ---- The library back: the printers the app stopped print again ----
note "the colour library back"
install_library
start_app
state=$(ipp_request restarted tx7m "$(operation Get-Printer-Attributes)
  ATTR keyword requested-attributes printer-state,printer-state-reasons
  STATUS successful-ok")
grep -qE "printer-state \(enum\) = idle" <<<"$state" || fail "the printer stays stopped: $state"
id=$(print_job library-back tx7m "$work/sgray-600.pwg")
[ "$(wait_job library-back tx7m "$id")" = completed ] || fail "no job prints with the library back"
stop_app
note "PASS"
