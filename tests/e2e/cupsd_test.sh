#!/usr/bin/env bash
# The real print chain under a private scheduler: a cupsd of our own (own
# configuration, spool and logs, a socket file and a port on 127.0.0.1,
# file devices allowed, our filter in its ServerBin), a queue made from the
# installed PPD, a two-sided job with collated copies, and a cancelled job.
# The test stops only the cupsd it started, by its process id.
# Usage: cupsd_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: cupsd_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
enter_private_namespace "$@"

start_scheduler_test cupsd "$build"

# ---- Queues from the installed PPD ----
ppd=$STAGED_PPD_DIR/ztx7m.ppd
[ -f "$ppd" ] || fail "$ppd was not installed"
for queue in zemro zemrocancel; do
  lpadmin -p "$queue" -P "$ppd" -v "file:$work/out/$queue.zeru" -E \
    -o printer-error-policy=abort-job 2>"$work/log/lpadmin.err" ||
    fail "lpadmin refused the PPD: $(cat "$work/log/lpadmin.err")"
done
lpstat -p zemro | grep -q 'enabled' || fail "the queue is not enabled"

# Every choice the filter compares is there as libcups reads the PPD (a choice
# that libcups cannot parse is dropped without a word). lpoptions fetches the
# PPD by the printer's URI, which the scheduler names only over TCP.
note "the PPD's options as libcups reads them"
lpoptions -h "127.0.0.1:$port" -p zemro -l >"$work/options" || fail "lpoptions failed"
expect_choices() {
  local option=$1 choice line
  shift
  line=$(grep -E "^$option/[^:]*:" "$work/options") || fail "no option $option"
  for choice in "$@"; do
    printf '%s\n' "${line#*:}" | tr ' ' '\n' | sed 's/^\*//' | grep -qxF -- "$choice" ||
      fail "option $option has no choice $choice"
  done
}
expect_choices PageSize Letter A4 A5 A6 B5 B6 Executive 16K A5LEF B6LEF Legal Custom.WIDTHxHEIGHT
expect_choices ColorModel RGB Gray
expect_choices Resolution 600x600dpi 1200x1200dpi
expect_choices cupsPrintQuality Draft Normal High
expect_choices Duplex None DuplexNoTumble DuplexTumble
expect_choices Collate True False
expect_choices MediaType Plain Covers
expect_choices TonerMode Off 1 2 3
for colour in Black Cyan Magenta Yellow; do
  for level in High Mid Low; do
    expect_choices "AKColorDensity$colour$level" -3 -2 -1 0 +1 +2 +3
  done
done
expect_choices StpBrightness 100 150 200 250 300
for option in Contrastbackground Contrastimage Contrastgraphic Contrasttext \
              Chromabackground Chromaimage Chromagraphic Chromatext; do
  expect_choices "$option" -100 -75 -50 -25 0 25 50 75 100
done
expect_choices ImageType TextPhoto Photo WebPages Graphics POP
expect_choices IAM Complementary
expect_choices GrayGuarantee ON OFF
expect_choices Screen Auto Standard Gradation Fineness
expect_choices ImageRotation True False
expect_choices AKSaveBlankSheet True False

# ---- A two-sided job with two collated copies ----
note "two-sided job with two collated copies"
make_pdf 3 "$work/three.pdf"
out=$(lp -d zemro -n 2 -o collate=true -o sides=two-sided-long-edge -o TonerMode=1 \
      -t e2e-duplex "$work/three.pdf") || fail "lp failed"
id=$(job_id "$out")
[ -n "$id" ] || fail "no job id in: $out"
wait_for_job zemro "$id"
device=$work/out/zemro.zeru
check_stream "$device"
has_pjl "$device" "@PJL SET JOBATTR=DOC:e2e-duplex"
has_pjl "$device" "@PJL SET DUPLEX=ON"
has_pjl "$device" "@PJL SET QTY=1"
# Three pages and a blank back, two copies: (4 x 2) / 2 + 1.
has_pjl "$device" "@PJL SET MDPXS=5"
has_pjl "$device" "@PJL SET JOBATTR=PCNT:3"

# ---- A job cancelled while it prints ----
note "job cancelled while it prints"
make_pdf 12 "$work/twelve.pdf"
before=$(ls -A "$work/spool/tmp")
out=$(lp -d zemrocancel -t e2e-cancel "$work/twelve.pdf") || fail "lp failed"
id=$(job_id "$out")
[ -n "$id" ] || fail "no job id in: $out"
# Cancel once the filter has begun its second page, so that a page is spooled.
second_page_begun() {
  job_log "$id" | grep -qE 'PAGE: 2 |Printing page 2,'
}
if ! wait_for 300 second_page_begun; then
  job_log "$id" | grep -v '^d ' | tail -n 20 >&2
  fail "job $id never reached its second page"
fi
cancel "$id" || fail "cancel failed"
wait_for 120 bash -c "! lpstat -o zemrocancel 2>/dev/null | grep -q -- '-$id '" ||
  fail "cancelled job $id did not end"
# The filter finishes its page and the trailer after the scheduler's SIGTERM;
# wait for its exit before looking at the device file.
filter_ended() {
  job_log "$id" | grep -qE 'rastertozeru \(PID [0-9]+\) (exited|stopped|crashed)|PID [0-9]+ \(.*rastertozeru\) (exited|stopped|crashed)'
}
wait_for 60 filter_ended || fail "the filter of job $id did not end"
check_stream "$work/out/zemrocancel.zeru" aborted
# Ghostscript leaves its own gs_* files behind when the scheduler stops it;
# anything else new is a spool file of ours that was not removed.
left=$(comm -13 <(printf '%s\n' "$before" | sort) <(ls -A "$work/spool/tmp" | sort) | grep -v '^gs_' || true)
[ -z "$left" ] ||
  fail "the cancelled job left files in the spool's temp directory: $(tr '\n' ' ' <<<"$left")"

note "all cupsd jobs passed"
