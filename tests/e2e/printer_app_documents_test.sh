#!/usr/bin/env bash
# Documents that must not hang, loop or bloat the Printer Application, each
# sent to the real server: PostScript that never ends (cancelled, and stopped
# by the page time limit), PostScript that writes a file, PNG images that
# fail after their header or are too large, a PWG page with lines of 512 MiB,
# 1-bit and banded PWG pages, a PWG page cut short (with its length and in
# chunks), a client that falls silent in the middle of its PWG page.
# Each such job ends within a bound with a reason in its job-state-message,
# leaves no Ghostscript and no temporary files, the server's peak memory
# stays under a bound, and the next good job prints.
# Usage: printer_app_documents_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: printer_app_documents_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
source "$2/tests/e2e/app_common.sh"
app_test_begin "$@"

docs=$work/docs
python3 "$2/tests/e2e/bad_documents.py" "$docs" || fail "cannot write the test documents"
make_pdf 1 "$docs/good.pdf"

# Ghostscript's page limit is short here so that an endless page ends soon.
# The server checks access, as the service does (printing needs no password).
page_limit=$(scaled 6)
install_library
start_app -o ghostscript-page-timeout="$page_limit" -o auth-service=zeru-printer-app-test
add_printer p tx7
sleep 1

submit() { submit_document "$1" p "$2" "$3"; }
expect_end() { expect_job_end "$1" p "$2" "$3" "$4"; }

# print_good NAME: a good PDF job prints.
print_good() {
  local id
  id=$(submit "$1" application/pdf "$docs/good.pdf")
  [ "$(wait_job "$1" p "$id")" = completed ] ||
    fail "$1 did not complete: $(job_state "$1" p "$id" job-state-message)"
  [ -s "$work/out/p/$1.zeru" ] || fail "$1 left no stream"
}

# ---- Endless PostScript, cancelled ----
id=$(submit endless-cancel application/postscript "$docs/endless.ps")
wait_for 20 pgrep -x gs >/dev/null || fail "Ghostscript did not start"
cancel_job p "$id"
wait_for 5 no_ghostscript || fail "Ghostscript still runs after the cancel"

# ---- Endless PostScript, over the page limit ----
started=$SECONDS
id=$(submit endless-limit application/postscript "$docs/endless.ps")
expect_end endless-limit "$id" aborted "took longer than $page_limit seconds"
[ $((SECONDS - started)) -le $((page_limit + $(scaled 15))) ] || fail "the page limit did not hold"
wait_for 5 no_ghostscript || fail "Ghostscript still runs after the time limit"

# ---- PostScript that writes files ----
id=$(submit probe application/postscript "$docs/probe.ps")
wait_job probe p "$id" >/dev/null
[ ! -e /tmp/probe ] || fail "a document wrote /tmp/probe"
[ -z "$(find "$work/app-spool" /tmp -name 'gs-*' -o -name 'probe-here' 2>/dev/null)" ] ||
  fail "Ghostscript's temporary folder was left behind: $(find "$work/app-spool" /tmp -name 'gs-*')"

# ---- Images that fail after their header, and too large ----
for png in png-empty-idat:"could not be read" png-broken-idat:"could not be read" \
           png-bomb:"larger than a Legal page"; do
  id=$(submit "${png%%:*}" image/png "$docs/${png%%:*}.png")
  expect_end "${png%%:*}" "$id" aborted "${png#*:}"
done

# ---- A PWG page whose lines are 512 MiB ----
id=$(submit pwg-bomb image/pwg-raster "$docs/pwg-bomb.pwg")
expect_end pwg-bomb "$id" aborted "wider than the widest sheet"

# ---- Raster types the printer does not take ----
id=$(submit pwg-1bit image/pwg-raster "$docs/pwg-1bit.pwg")
expect_end pwg-1bit "$id" aborted "1-bit or of a type this printer does not take"
id=$(submit pwg-banded image/pwg-raster "$docs/pwg-banded.pwg")
expect_end pwg-banded "$id" aborted "a header the printer cannot take"

# ---- A PWG page cut short ----
# short_job NAME IPPTOOL_OPTIONS...: Print-Job of the short page; ipptool's
# output goes to $work/NAME.ipp, its status is returned.
short_job() {
  local name=$1
  shift
  cat >"$work/$name.test" <<TEST
{
  NAME "$name"
$(operation Print-Job)
  ATTR name job-name $name
  ATTR mimeMediaType document-format image/pwg-raster
  FILE $docs/pwg-short.pwg
  STATUS successful-ok
}
TEST
  timeout "$(scaled 30)" ipptool "$@" -tv "$uri/p" "$work/$name.test" >"$work/$name.ipp" 2>&1
}
# Sent with its length, the page prints the lines it holds, is finished
# white and the client is answered at once.
short_job pwg-short -L -T "$(scaled 20)" ||
  { cat "$work/pwg-short.ipp" >&2; fail "pwg-short was not answered"; }
id=$(sed -n 's/^ *job-id (integer) = \([0-9]*\)$/\1/p' "$work/pwg-short.ipp" | head -n 1)
[ -n "$id" ] || fail "pwg-short: no job"
expect_end pwg-short "$id" completed ""
facts "$work/out/p/pwg-short.zeru" >"$work/pwg-short.facts"
for fact in "pages 1" "page 1 colour A4 600 6817"; do
  expect_fact "$work/pwg-short.facts" "$fact"
done
# Sent in chunks, the same: answered at once, not when the client gives up.
started=$SECONDS
short_job pwg-short-chunked -C -T "$(scaled 20)" ||
  { cat "$work/pwg-short-chunked.ipp" >&2; fail "pwg-short-chunked was not answered"; }
[ $((SECONDS - started)) -le "$(scaled 5)" ] ||
  fail "pwg-short-chunked was answered only after $((SECONDS - started)) s"
expect_end pwg-short-chunked $((id + 1)) completed ""
facts "$work/out/p/pwg-short-chunked.zeru" >"$work/pwg-short-chunked.facts"
for fact in "pages 1" "page 1 colour A4 600 6817"; do
  expect_fact "$work/pwg-short-chunked.facts" "$fact"
done

# ---- A client that falls silent in its page, cancelled ----
# The request and the page's first 100 lines, then nothing (no last chunk): the
# job is cancelled at once, and the client answered.
ipp_post=$2/tests/e2e/ipp_post.py
python3 "$ipp_post" --stall "$(scaled 40)" 200000 "$uri/p" Print-Job \
  --file "$docs/pwg-short.pwg" op.name.requesting-user-name=tester \
  op.name.job-name=silent op.mime.document-format=image/pwg-raster >"$work/silent.out" 2>&1 &
silent_pid=$!
# Polled with a client that fails on nothing: the job may not be made yet.
silent_job_processing() {
  python3 "$ipp_post" "$uri/p" Get-Job-Attributes op.integer.job-id=$((id + 2)) \
    op.name.requesting-user-name=tester 2>/dev/null | grep -qx 'job-state=5'
}
wait_for 20 silent_job_processing || fail "the silent client's job did not start"
cancel_job p $((id + 2))
wait_for 10 eval '! kill -0 $silent_pid 2>/dev/null' ||
  fail "the silent client was not answered after the cancel"
wait "$silent_pid" || true
grep -q '^HTTP 200 ' "$work/silent.out" ||
  fail "the silent client's answer: $(cat "$work/silent.out")"

# The server's peak memory: the bombs above would each take 512 MiB or more.
peak_kb=$(awk '$1 == "VmHWM:" { print $2 }' "/proc/$app_pid/status")
bound_kb=$((200 * 1024 * ${ZERU_TIME_SCALE:-1}))
note "peak RSS ${peak_kb} kB (bound ${bound_kb} kB)"
[ "$peak_kb" -le "$bound_kb" ] || fail "the server's peak RSS ${peak_kb} kB is over ${bound_kb} kB"

# ---- The next good job prints ----
print_good good
wait_for 5 no_ghostscript || fail "Ghostscript remains"
client status >/dev/null || fail "the app stopped serving"
stop_app
note "PASS"
