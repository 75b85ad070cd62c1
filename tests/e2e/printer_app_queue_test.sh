#!/usr/bin/env bash
# The Printer Application's queue under jobs sent back to back: rounds of a
# PDF job, its cancellation at once, and another PDF job, the way ipptool's
# conformance files send them. Such rounds make PAPPL start a printer's jobs
# beside one another, and start cancelled jobs all the same; the app must
# keep serving, print every job that was not cancelled whole into its own
# job stream (none cut short by another job closing the device, none mixed
# with another), print nothing of a job cancelled before it began, and stop
# cleanly afterwards. Every client call is time-limited.
# Usage: printer_app_queue_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: printer_app_queue_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
source "$2/tests/e2e/app_common.sh"
app_test_begin "$@"
busy_pids=()
app_test_cleanup() {
  if ((${#busy_pids[@]})); then kill "${busy_pids[@]}" 2>/dev/null || true; fi
}

rounds=15
cat >"$work/doc.ps" <<'PS'
%!PS
/Helvetica findfont 40 scalefont setfont
0 0.6 1 setrgbcolor 60 640 200 120 rectfill
0 setgray 72 200 moveto (Page 1) show
showpage
PS
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE=a4 -sOutputFile="$work/doc.pdf" \
  "$work/doc.ps" || fail "ghostscript could not make the PDF"

install_library
start_app
add_printer queue tx7m

# One round: the job to cancel, its cancellation, the job to keep. The file
# printer names each job stream after its job.
cat >"$work/round.test" <<'TEST'
{
  NAME "Print-Job to cancel"
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name tester
  ATTR name job-name cancel-$round
  ATTR mimeMediaType document-format application/pdf
  FILE $filename
  STATUS successful-ok
  EXPECT job-id
}
{
  NAME "Cancel-Job"
  OPERATION Cancel-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id $job-id
  ATTR name requesting-user-name tester
  STATUS successful-ok
  STATUS client-error-not-possible
}
{
  NAME "Print-Job to keep"
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name tester
  ATTR name job-name keep-$round
  ATTR mimeMediaType document-format application/pdf
  FILE $filename
  STATUS successful-ok
}
TEST
# Two clients at once, so that jobs arrive while others end, beside a busy
# loop a core, so that PAPPL's new job threads start late as on a loaded
# machine.
note "$rounds rounds of a job, its cancellation and another job, from two clients"
for _ in $(seq 1 "$(nproc)"); do
  (while :; do :; done) &
  busy_pids+=($!)
done
send_rounds() { # CLIENT
  local round
  for round in $(seq 1 "$rounds"); do
    timeout "$(scaled 60)" ipptool -T "$(scaled 30)" -t -d round="$1-$round" -f "$work/doc.pdf" \
      "$uri/queue" "$work/round.test" >"$work/round-$1-$round.out" 2>&1 ||
      { cat "$work/round-$1-$round.out" >&2; echo "round $1-$round failed" >&2; return 1; }
  done
}
send_rounds a &
sender_a=$!
send_rounds b || fail "client b's rounds failed"
wait "$sender_a" || fail "client a's rounds failed"
kill "${busy_pids[@]}"
busy_pids=()
kill -0 "$app_pid" 2>/dev/null || fail "the app died during the rounds"

# Every kept job ends completed, each in a job stream of its own.
kept=$((2 * rounds))
# Jobs, not lines: PAPPL 1.3.1 may run a job twice, and each run logs its end.
completed_jobs() {
  grep -oE '\[Job [0-9]+\] Completed, job-impressions-completed' "$work/app.log" | sort -u | wc -l
}
all_ended() { [ "$(completed_jobs)" -ge "$kept" ]; }
wait_for 240 all_ended || fail "only $(completed_jobs) jobs completed"
app_answers || fail "the app does not answer after the rounds"
for client in a b; do
  for round in $(seq 1 "$rounds"); do
    stream=$work/out/queue/keep-$client-$round.zeru
    [ -s "$stream" ] || fail "no job stream of round $client-$round"
    facts "$stream" >"$work/keep.facts"
    expect_fact "$work/keep.facts" "clean True"
    expect_fact "$work/keep.facts" "pages 1"
  done
done
# A job cancelled before it was started prints nothing; one cancelled while
# it printed ends its stream with the abort trailer (clean either way).
for stream in "$work"/out/queue/cancel-*.zeru; do
  [ -e "$stream" ] || continue
  [ -s "$stream" ] || continue
  facts "$stream" >"$work/cancelled.facts"
  grep -qx "clean True" "$work/cancelled.facts" || ends_with "$stream" "${UEL}@PJL EOJ Abort"$'\r\n' ||
    { cat "$work/cancelled.facts" >&2; fail "$(basename "$stream") is neither whole nor aborted"; }
done

# The app stops on SIGTERM by itself.
kill -TERM "$app_pid"
wait_for 30 eval '! kill -0 "$app_pid" 2>/dev/null' || fail "the app did not stop on SIGTERM"
set +e
wait "$app_pid"
status=$?
set -e
app_pid=
[ "$status" -eq 0 ] || fail "the app ended with status $status"
note "PASS"
