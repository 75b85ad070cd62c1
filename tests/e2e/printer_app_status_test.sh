#!/usr/bin/env bash
# The Printer Application's view of a printer's state, against a stand-in
# network printer on loopback (standin_printer.py: the socket protocol for
# the job stream, SNMP on port 161 for the device ID and the printer MIB's
# supplies), in a private network namespace so that port 161 is the test's
# own. The device ID is read when the printer is added, on status requests
# and at the start of a job: printer-state-reasons and the state message of
# the printer's device page follow the printer's answers (a status block, an
# unreadable one, none, no answer at all); the toner levels it reports
# become marker-* and printer-supply, and a printer that reports none shows
# its four toners with unknown levels; the raw device ID is on the printer's
# device page of the web interface; a printer that does not answer is
# offline while its jobs still print; a printer that refuses the job stream
# ends the job, with its refusal in the printer's log and device page; a
# file printer's state is left alone (its toners' levels unknown).
# Usage: printer_app_status_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

if [ -z "${ZERU_STATUS_NETNS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "the end-to-end tests run as root" >&2; exit 1; }
  export ZERU_STATUS_NETNS=1
  exec unshare --net bash "$0" "$@"
fi
ip link set lo up

build=$(cd "${1:?usage: printer_app_status_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source_dir=$(cd "${2:?}" && pwd)
source "${2:?}/tests/e2e/common.sh"
source "$2/tests/e2e/app_common.sh"
app_test_begin "$@"
standin_pid=
app_test_cleanup() {
  if [ -n "$standin_pid" ]; then
    kill "$standin_pid" 2>/dev/null || true
    wait "$standin_pid" 2>/dev/null || true
  fi
}

# ---- The stand-in printer ----
printer_port=$(free_port) || fail "no free port"
mkdir -p "$work/printer" "$work/state"
state=$work/state
python3 "$source_dir/tests/e2e/standin_printer.py" "$printer_port" "$work/printer" "$state" \
  "$work/printer.ready" >"$work/standin.out" 2>&1 &
standin_pid=$!
wait_for 10 test -s "$work/printer.ready" ||
  fail "the stand-in printer did not start: $(cat "$work/standin.out")"

# 108 bytes as base64 (144 characters).
block=$(head -c 108 /dev/zero | tr '\0' '\7' | base64 -w0)
model_id="MFG:ZEMRO;CMD:PJL,ZERU;MDL:TX 7M;CLS:PRINTER;DES:ZEMRO TX 7M;"
printf '%s\n' "${model_id}STS:$block;" >"$state/device-id"
cat >"$state/supplies" <<'SUPPLIES'
cyan 80 Cyan Toner
magenta 55 Magenta Toner
yellow 30 Yellow Toner
black 5 Black Toner
SUPPLIES

# ---- A PWG raster job ----
cat >"$work/doc.ps" <<'PS'
%!PS
1 0 0 setrgbcolor 60 640 200 120 rectfill
showpage
PS
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -sPAPERSIZE=a4 -dFIXEDMEDIA \
  -dcupsColorSpace=19 -dcupsBitsPerColor=8 -r600 -sOutputFile="$work/doc.pwg" "$work/doc.ps" ||
  fail "ghostscript could not make the raster"

# PAPPL 1.3.1 is built without frame pointers: only the slow unwinder takes
# a leak's stack through it to the PAPPL function that was called.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0"
install_library
start_app

# status NAME PRINTER: the printer's state attributes, one a line. PAPPL asks
# the driver for the printer's status at most every two seconds.
status() {
  sleep 2.1
  ipp_request "$1" "$2" "$(operation Get-Printer-Attributes)
  ATTR keyword requested-attributes printer-state,printer-state-reasons,printer-state-message,marker-names,marker-levels,marker-colors,marker-types,printer-supply
  STATUS successful-ok" | sed -n 's/^ *\([a-z-]*\) ([^)]*) = /\1=/p'
}
expect_status() {
  grep -qxF "$2" <<<"$1" || fail "the printer's state lacks '$2': $1"
}
# device_state PRINTER: the state message of the printer's device page.
device_state() {
  timeout "$(scaled 30)" curl -sf "http://127.0.0.1:$port/$1/device" |
    sed -n 's/.*<p id="device-state">\([^<]*\)<.*/\1/p'
}
expect_state() {
  local got
  got=$(device_state "$1")
  [ "$got" = "$2" ] || fail "the device page of $1 says '$got', not '$2'"
}
expect_no_status() {
  ! grep -q "^$2=" <<<"$1" || fail "the printer's state has $2: $1"
}

# ---- A printer that answers with a status block ----
note "a printer that answers with a status block"
client add -d net -m zemro_tx7m -v "socket://127.0.0.1:$printer_port" ||
  fail "the app refused the network printer"
grep -q "Device ID with a status block: ${model_id}STS:" "$work/app.log" ||
  fail "the device ID was not read when the printer was added"
s=$(status answers net)
expect_status "$s" "printer-state-reasons=none"
expect_state net "The printer answers with a status block"
expect_status "$s" "marker-names=Cyan Toner,Magenta Toner,Yellow Toner,Black Toner"
expect_status "$s" "marker-levels=80,55,30,5"
expect_status "$s" "marker-colors=#00FFFF,#FF00FF,#FFFF00,#000000"
expect_status "$s" "marker-types=toner,toner,toner,toner"
grep -q "^printer-supply=.*level=5;.*" <<<"$s" || fail "no printer-supply: $s"

# The device page of the web interface shows the raw device ID, and the
# printer's own page links to it.
page=$(timeout "$(scaled 30)" curl -sf "http://127.0.0.1:$port/net/device") ||
  fail "no device page"
grep -qF "${model_id}STS:$block;" <<<"$page" || fail "the device page lacks the device ID: $page"
grep -qF "The printer answers with a status block" <<<"$page" ||
  fail "the device page lacks the printer's state"
home=$(timeout "$(scaled 30)" curl -sf "http://127.0.0.1:$port/net") || fail "no printer page"
grep -qF 'href="/net/device"' <<<"$home" || fail "the printer's page has no device link"
grep -qF 'href="/net/supplies"' <<<"$home" || fail "the printer's page has no supplies link"
supplies=$(timeout "$(scaled 30)" curl -sf "http://127.0.0.1:$port/net/supplies") || fail "no supplies page"
grep -qF "Cyan Toner" <<<"$supplies" || fail "the supplies page lacks the toners: $supplies"

# ---- Unreadable block, no block, other supplies ----
note "an unreadable status block, then none"
printf '%s\n' "${model_id}STS:QUJD;" >"$state/device-id"
printf 'black 40 Black Toner\n' >"$state/supplies"
s=$(status unreadable net)
expect_status "$s" "printer-state-reasons=none"
expect_state net "The printer sends a status block that cannot be read"
expect_status "$s" "marker-levels=40"
printf '%s\n' "$model_id" >"$state/device-id"
rm "$state/supplies"
s=$(status noblock net)
expect_state net "The printer answers without a status block"
# No supplies reported: the four toners, their levels unknown.
expect_status "$s" "marker-names=Cyan Toner,Magenta Toner,Yellow Toner,Black Toner"
expect_status "$s" "marker-levels=-2,-2,-2,-2"
grep -q '^printer-supply=index=0;type=toner;maxcapacity=100;level=-2;colorantname=cyan;' <<<"$s" ||
  fail "printer-supply does not give the cyan toner's level as unknown: $s"

# ---- A job reads the device ID at its start ----
note "a job of a printer that answers"
printf '%s\n' "${model_id}STS:$block;" >"$state/device-id"
id=$(print_job answering net "$work/doc.pwg")
[ "$(wait_job answering net "$id")" = completed ] || fail "the job did not complete"
wait_for 20 eval 'ls "$work/printer"/job-* >/dev/null 2>&1' || fail "the stand-in printer got no job"
facts "$(ls "$work/printer"/job-* | head -n 1)" >"$work/answering.facts"
expect_fact "$work/answering.facts" "clean True"
expect_fact "$work/answering.facts" "pages 1"
# Between the job's start and its first page the printer is asked again.
awk -v start="[Job $id] Printing as" -v page="[Job $id] Page 1," '
  index($0, start) { started = 1 }
  started && index($0, "[Printer net] Device ID with a status block") { asked = 1 }
  index($0, page) { exit !asked }' "$work/app.log" ||
  fail "no device ID read at the job's start"
grep -qE "\[Job $id\] Page 1, 1 copies" "$work/app.log" ||
  fail "the job's page is not in the log"
grep -qE "\[Job $id\] STATE: Setup" "$work/app.log" ||
  fail "the filter's diagnostic lines are not in the job's log"

# ---- A printer that does not answer ----
note "a printer that does not answer its status requests"
touch "$state/silent"
s=$(status silent net)
expect_status "$s" "printer-state-reasons=offline"
expect_state net "The printer does not answer"
# Its jobs still print, and the job is not an error.
rm -f "$work/printer"/job-*
id=$(print_job silent net "$work/doc.pwg")
[ "$(wait_job silent net "$id")" = completed ] || fail "the silent printer's job did not complete"
wait_for 20 eval 'ls "$work/printer"/job-* >/dev/null 2>&1' || fail "the silent printer got no job"
rm "$state/silent"
s=$(status back net)
expect_status "$s" "printer-state-reasons=none"
expect_state net "The printer answers with a status block"

# ---- A printer that refuses the job stream ----
# The job ends with its message; the printer says why; the server goes on.
note "a printer that refuses the job"
touch "$state/refuse"
rm -f "$work/printer"/job-*
id=$(print_job refused net "$work/doc.pwg")
[ "$(wait_job refused net "$id")" = aborted ] || fail "the refused job did not abort"
message=$(job_state refused net "$id" job-state-message)
[ -n "$message" ] || fail "the refused job has no message"
grep -qE "\[Printer net\] The printer refused the job" "$work/app.log" ||
  fail "the refusal is not in the printer's log"
expect_state net "The printer refused the job"
rm "$state/refuse"
kill -0 "$app_pid" 2>/dev/null || fail "the app did not survive the refused job"
id=$(print_job after-refusal net "$work/doc.pwg")
[ "$(wait_job after-refusal net "$id")" = completed ] || fail "the job after the refusal failed"

# A printer that cannot be reached at all.
closed_port=$(free_port) || fail "no free port"
client add -d gone -m zemro_tx7 -v "socket://127.0.0.1:$closed_port" ||
  fail "the app refused the unreachable printer"
s=$(status gone gone)
expect_status "$s" "printer-state-reasons=offline"
expect_state gone "The printer does not answer"

# ---- A file printer: no device ID, and no state made of its absence ----
# Its toners are there, their levels unknown.
add_printer file tx7n
s=$(status file file)
expect_status "$s" "printer-state-reasons=none"
expect_state file ""
expect_status "$s" "marker-levels=-2,-2,-2,-2"

kill -0 "$app_pid" 2>/dev/null || fail "the app exited"
note "ok"
