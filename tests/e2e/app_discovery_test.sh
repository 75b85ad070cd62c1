#!/usr/bin/env bash
# A running Printer Application with a D-Bus system bus and avahi-daemon, as
# on a desktop, all in the test's own namespaces:
# - a printer added while the server runs (with the command line, IPP's
#   Create-Printer or the web page's Add Printer) is advertised within
#   seconds as _ipp._tcp and _ipps._tcp on the server's port, with the TXT
#   keys clients choose on;
# - a printer's new DNS-SD name replaces its old record, a new host name
#   moves the records to it, a deleted printer's records go, and a restart
#   on another port advertises that port;
# - the command line's printer sub-commands (default, modify, pause,
#   resume, delete, shutdown) act on the running server, and shutdown ends
#   it cleanly (status 0, no sanitizer report) after printers were added and
#   deleted, while clients keep asking for a printer's state;
# - a private server (no TCP listener) advertises nothing.
# Usage: app_discovery_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

if [ -z "${ZERU_DISCOVERY_NETNS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "the end-to-end tests run as root" >&2; exit 1; }
  export ZERU_DISCOVERY_NETNS=1
  exec unshare --net bash "$0" "$@"
fi
ip link set lo up

build=$(cd "${1:?usage: app_discovery_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
source "$2/tests/e2e/app_common.sh"
app_test_begin "$@"
start_avahi
install_library
start_app

# advertised NAME: NAME's _ipp._tcp record, once it is there.
advertised() { browse _ipp._tcp | grep -F ";$1;" | head -n 1; }
has_record() { [ -n "$(advertised "$1")" ]; }
no_record() { [ -z "$(advertised "$1")" ]; }
record_says() { advertised "$1" | grep -qF "$2"; }
# The server has ended (an ended child stays a zombie until waited for).
app_exited() { [ ! -e "/proc/$app_pid" ] || grep -q '^[0-9]* (.*) Z' "/proc/$app_pid/stat"; }

attribute() {
  ipp_request "get-$1-$2" "$1" "$(operation Get-Printer-Attributes)
  ATTR keyword requested-attributes $2
  STATUS successful-ok" | sed -n "s/^ *$2 ([^)]*) = //p" | head -n 1
}

note "printers added on the running server are advertised"
add_printer desk tx7m
mkdir -p "$work/out/hall"
timeout "$(scaled 30)" python3 "$2/tests/e2e/ipp_post.py" "ipp://127.0.0.1:$port/ipp/system" \
  Create-Printer op.keyword.printer-service-type=print printer.name.printer-name=hall \
  op.keyword.smi55357-driver=zemro_tx7 "op.uri.smi55357-device-uri=file://$work/out/hall?ext=zeru" \
  >"$work/create.out" || fail "Create-Printer of hall failed"
grep -q '^HTTP 200 IPP 0x000[0-2]$' "$work/create.out" || fail "Create-Printer of hall: $(cat "$work/create.out")"
mkdir -p "$work/out/lobby"
add=http://127.0.0.1:$port/addprinter
timeout "$(scaled 60)" curl -sS --fail -o "$work/add.html" "$add" || fail "cannot fetch $add"
session=$(sed -n 's/.*name="session" value="\([^"]*\)".*/\1/p' "$work/add.html" | head -n 1)
[ -n "$session" ] || fail "no session key in the Add Printer page"
timeout "$(scaled 30)" curl -sS -o /dev/null -w '%{http_code}' --data-urlencode "session=$session" \
  --data-urlencode printer_name=lobby --data-urlencode driver_name=zemro_tx7mn \
  --data-urlencode "device_uri=file://$work/out/lobby?ext=zeru" "$add" >"$work/add.status" ||
  fail "cannot post to $add"
[ "$(cat "$work/add.status")" = 302 ] || fail "the web page's Add Printer answered $(cat "$work/add.status")"
for name in desk hall lobby; do
  wait_for 30 has_record "$name" || fail "$name is not advertised as _ipp._tcp: $(browse _ipp._tcp)"
  record=$(advertised "$name")
  port_field=$(cut -d';' -f9 <<<"$record")
  [ "$port_field" = "$port" ] || fail "$name is advertised on port $port_field, not $port: $record"
  for key in '"rp=ipp/print/'"$name"'"' '"ty=' '"product=(' '"URF=' '"Color=T"' \
             '"kind=' '"UUID=' "\"adminurl=http://" ":$port/$name/\""; do
    grep -qF -- "$key" <<<"$record" || fail "$name's TXT record lacks $key: $record"
  done
  pdl=$(grep -o '"pdl=[^"]*"' <<<"$record")
  for format in image/pwg-raster image/urf; do
    grep -qF "$format" <<<"$pdl" || fail "$name's pdl lacks $format: $pdl"
  done
  browse _printer._tcp | grep -qF ";$name;" || fail "$name has no _printer._tcp record"
  ipps=$(browse _ipps._tcp | grep -F ";$name;" | head -n 1)
  [ "$(cut -d';' -f9 <<<"$ipps")" = "$port" ] || fail "$name has no _ipps._tcp record on port $port: $ipps"
done
record_says desk '"Duplex=T"' || fail "desk (two-sided) is not advertised Duplex=T"

note "a printer's new DNS-SD name (its web page's configuration) replaces its old record"
config=http://127.0.0.1:$port/desk/config
timeout "$(scaled 30)" curl -sS --fail -o "$work/config.html" "$config" || fail "cannot fetch $config"
session=$(sed -n 's/.*name="session" value="\([^"]*\)".*/\1/p' "$work/config.html" | head -n 1)
[ -n "$session" ] || fail "no session key in desk's configuration page"
timeout "$(scaled 30)" curl -sS --fail -o /dev/null --data-urlencode "session=$session" \
  --data-urlencode "dns_sd_name=desk-upstairs" "$config" || fail "cannot post to $config"
wait_for 30 has_record desk-upstairs || fail "the new name desk-upstairs is not advertised: $(browse _ipp._tcp)"
wait_for 30 no_record desk || fail "desk's old name is still advertised"
[ "$(advertised desk-upstairs | cut -d';' -f9)" = "$port" ] || fail "desk-upstairs is not on port $port"

note "a new host name moves the records to it"
timeout "$(scaled 10)" avahi-set-host-name zeru-moved || fail "avahi-set-host-name failed"
moved() {
  local record
  record=$(advertised hall)
  [ "$(cut -d';' -f7 <<<"$record")" = zeru-moved.local ] &&
    grep -qF "adminurl=http://zeru-moved.local:$port/" <<<"$record"
}
wait_for 30 moved || fail "hall is not advertised on the new host name: $(advertised hall)"

note "the command line's sub-commands act on the running server"
client default -d hall || fail "default -d hall failed"
[ "$(client default)" = hall ] || fail "the default printer is not hall: $(client default)"
client modify -d desk -o print-quality-default=high || fail "modify -d desk failed"
[ "$(attribute desk print-quality-default)" = high ] || fail "modify did not change desk's print-quality-default"
client pause -d desk || fail "pause -d desk failed"
[ "$(attribute desk printer-state)" = stopped ] || fail "desk is not stopped after pause"
client resume -d desk || fail "resume -d desk failed"
[ "$(attribute desk printer-state)" = idle ] || fail "desk is not idle after resume"
client delete -d desk || fail "delete -d desk failed"
if client printers | grep -qx desk; then fail "desk is still listed after delete"; fi
wait_for 30 no_record desk-upstairs || fail "the deleted desk is still advertised"
if browse _ipps._tcp | grep -qF ";desk-upstairs;"; then fail "the deleted desk is still advertised as _ipps._tcp"; fi
if client delete -d nowhere 2>"$work/delete.err"; then fail "delete of an unknown printer succeeded"; fi
grep -q nowhere "$work/delete.err" || fail "delete of an unknown printer does not say which"

note "shutdown after an add and a delete, with clients asking, ends the server cleanly"
# Clients that keep asking for the printer's state, as CUPS and print
# dialogs do once they have found it.
cat >"$work/poll.test" <<'TEST'
{
  NAME "poll"
  OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword requested-attributes printer-state,printer-supply
}
TEST
pollers=()
for n in 1 2 3 4; do
  (for _ in $(seq 300); do
     timeout 5 ipptool -q "$uri/hall" "$work/poll.test" 2>/dev/null || kill -0 "$app_pid" 2>/dev/null || break
   done) &
  pollers+=($!)
done
sleep 2
client shutdown || fail "shutdown failed"
wait_for 20 app_exited || fail "the server still runs after shutdown"
status=0
wait "$app_pid" || status=$?
kill "${pollers[@]}" 2>/dev/null || true
wait "${pollers[@]}" 2>/dev/null || true
[ "$status" -eq 0 ] || fail "the server ended with status $status after shutdown: $(tail -n 20 "$work/app.out")"
stop_app

note "a restart on another port advertises that port"
start_app
wait_for 30 has_record hall || fail "hall is not advertised after a restart"
[ "$(advertised hall | cut -d';' -f9)" = "$port" ] || fail "hall is not on the new port $port"
if has_record desk; then fail "the deleted desk came back after a restart"; fi
note "a printer advertised since the start is deleted, then the server shuts down"
client delete -d hall || fail "delete -d hall failed"
wait_for 30 no_record hall || fail "the deleted hall is still advertised"
add_printer desk tx7m
wait_for 30 has_record desk || fail "desk is not advertised when added again"
client shutdown || fail "the second shutdown failed"
wait_for 20 app_exited || fail "the server still runs after the second shutdown"
status=0
wait "$app_pid" || status=$?
[ "$status" -eq 0 ] || fail "the server ended with status $status after the second shutdown"
stop_app

note "a private server (no TCP listener) advertises nothing"
"$app" server -o private-server=true -o state-file="$work/app.state" \
  -o spool-directory="$work/app-spool" -o log-file="$work/app.log" -o log-level=debug \
  >>"$work/app.out" 2>&1 &
app_pid=$!
private_answers() { [ -S "$SNAP_COMMON/zeru-printer-app.sock" ] && client printers | grep -qx desk; }
wait_for 20 private_answers || fail "the private server does not answer with desk"
sleep 2
if has_record desk; then fail "the private server advertises desk: $(advertised desk)"; fi
client shutdown || fail "the private server's shutdown failed"
wait_for 20 app_exited || fail "the private server still runs after shutdown"
stop_app
note "PASS"
