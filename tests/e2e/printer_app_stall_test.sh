#!/usr/bin/env bash
# The Printer Application's writes to a network printer that takes no data
# (jammed: it accepts the connection and never reads): the printer says so
# after a while, the job stays processing, and it ends as cancelled soon
# after a Cancel-Job; the printer then prints the next job whole. Every
# client call is time-limited.
# Usage: printer_app_stall_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: printer_app_stall_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
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

# A sanitizer build unwinds allocations fully: PAPPL's socket device leaves
# its host name behind (pappl_leaks.supp names papplDeviceOpen), and the fast
# unwinder may stop inside libpappl, short of that name.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0"
install_library
start_app

# print_raw NAME PRINTER FILE: Print-Job of a job stream as it is; prints
# the job id.
print_raw() {
  local body
  body="$(operation Print-Job)
  ATTR name job-name $1
  ATTR mimeMediaType document-format application/vnd.zemro-zeru
  FILE $3
  STATUS successful-ok"
  ipp_request "$1" "$2" "$body" | sed -n 's/^ *job-id (integer) = \([0-9]*\)$/\1/p' | head -n 1
}

printer_reasons() {
  local body
  body="$(operation Get-Printer-Attributes)
  ATTR keyword requested-attributes printer-state-reasons
  STATUS successful-ok"
  ipp_request "reasons-$1" "$1" "$body" | sed -n 's/^ *printer-state-reasons ([^)]*) = //p'
}

# job_ends_as NAME PRINTER ID STATE SECONDS
job_ends_as() {
  local state deadline=$((SECONDS + $(scaled "$5")))
  while :; do
    state=$(job_state "$1" "$2" "$3" job-state)
    [ "$state" != "$4" ] || return 0
    [ "$SECONDS" -lt "$deadline" ] || fail "job $1 is $state, not $4, after $5 s"
    sleep 0.3
  done
}

# ---- A jammed network printer ----
printer_port=$(free_port) || fail "no free port"
mkdir -p "$work/printer" "$work/state"
touch "$work/state/stall"
# A printer that answers for its state: only the stall makes it offline.
printf '%s\n' "MFG:ZEMRO;CMD:PJL,ZERU;MDL:TX 7M;CLS:PRINTER;DES:ZEMRO TX 7M;" >"$work/state/device-id"
python3 "$source_dir/tests/e2e/standin_printer.py" "$printer_port" "$work/printer" "$work/state" \
  "$work/printer.ready" >"$work/standin.out" 2>&1 &
standin_pid=$!
wait_for 10 test -s "$work/printer.ready" ||
  fail "the stand-in printer did not start: $(cat "$work/standin.out")"
client add -d jammed -m zemro_tx7m -v "socket://127.0.0.1:$printer_port" ||
  fail "the app refused a network printer"

# More than the connection's buffers hold.
head -c 24M /dev/urandom >"$work/big.zeru"
id=$(print_raw stalled jammed "$work/big.zeru")
[ -n "$id" ] || fail "no job id for the stalled job"
says_offline() { printer_reasons jammed | grep -q offline; }
wait_for 60 says_offline || fail "the printer does not say that it takes no data"
[ "$(job_state stalled jammed "$id" job-state)" = processing ] ||
  fail "the stalled job did not wait for the printer"

body="$(operation Cancel-Job)
  ATTR integer job-id $id
  STATUS successful-ok"
ipp_request cancel-stalled jammed "$body" >/dev/null
job_ends_as stalled jammed "$id" canceled 15
if says_offline; then fail "the printer still says that it takes no data"; fi

# The printer reads again: the next job reaches it whole.
rm "$work/state/stall"
head -c 300000 /dev/urandom >"$work/next.zeru"
id=$(print_raw next jammed "$work/next.zeru")
[ "$(wait_job next jammed "$id")" = completed ] || fail "the job after the stalled one failed"
wait_for 10 test -f "$work/printer/job-1" || fail "the printer did not get the next job"
cmp -s "$work/next.zeru" "$work/printer/job-1" || fail "the printer got another job stream"

note "printer_app_stall_test: all checks passed"
