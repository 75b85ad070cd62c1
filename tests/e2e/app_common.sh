# shellcheck shell=bash disable=SC2034,SC2154  # $build is the caller's; it reads $app, $work, $port
# Shared parts of the Printer Application's end-to-end tests, sourced after
# common.sh: the app started on a free loopback port from a temporary folder
# (state file, spool directory and CLI socket there), the stand-in colour
# library where the core looks for it, time-limited clients, IPP requests
# made of ipptool test files, and what zerudump reads from a job stream.

# app_test_begin BUILD_DIR SOURCE_DIR: skips (77) when the build has no app,
# enters private namespaces, checks the tools and makes $work; cleans up on
# exit (then calls app_test_cleanup when the script defines one).
app_test_begin() {
  app=$build/printer-app/zeru-printer-app
  if [ ! -x "$app" ]; then
    echo "SKIP: no zeru-printer-app in $build (PAPPL was not found)"
    exit 77
  fi
  enter_private_namespace "$@"
  # /proc of the private process namespace: LeakSanitizer reads a process's
  # threads there by the process's own id.
  mount -t proc zeru-app-proc /proc || fail "cannot mount /proc"

  dump=$build/tools/zerudump
  [ -x "$dump" ] || fail "no zerudump in $build: build first"
  local tool
  for tool in ipptool gs python3; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
  done

  # A sanitizer build of the app leaves out PAPPL's own leaks.
  local supp
  supp=$(cd "$2" && pwd)/tests/e2e
  export LSAN_OPTIONS="suppressions=$supp/pappl_leaks.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
  # PAPPL 1.3.1 takes its system's and its printers' locks in either order
  # (adding a printer, saving the state, events): ThreadSanitizer looks for
  # data races here, not for PAPPL's lock order, nor PAPPL's own race.
  export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}detect_deadlocks=0:suppressions=$supp/pappl_tsan.supp"

  work=$(mktemp -d /tmp/zeru-app.XXXXXX)
  export SNAP_COMMON=$work/snap
  mkdir -p "$SNAP_COMMON" "$work/out"
  app_pid=
  trap app_end_test EXIT
}

app_end_test() {
  local status=$?
  stop_app
  show_app_log "$status"
  unstage
  if declare -F app_test_cleanup >/dev/null; then app_test_cleanup; fi
  rm -rf "$work"
}

app_pid=

# show_app_log STATUS: after a failure, the end of the app's log.
show_app_log() {
  if [ "$1" -ne 0 ] && [ -f "$work/app.log" ]; then
    echo "--- last lines of the app's log" >&2
    grep -v '^D ' "$work/app.log" | tail -n 30 >&2 || true
  fi
}

stop_app() {
  if [ -n "$app_pid" ]; then
    kill -TERM "$app_pid" 2>/dev/null || true
    local deadline=$((SECONDS + $(scaled 20)))
    while kill -0 "$app_pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.1; done
    kill -KILL "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=
    # A sanitizer build of the app reports its faults on its standard error,
    # leaks when it exits.
    local reports
    reports=$(grep -E -A40 '(ERROR|WARNING): [A-Za-z]*Sanitizer|runtime error:' "$work/app.out" \
      2>/dev/null | head -n 120) || true
    [ -z "$reports" ] || { echo "$reports" >&2; fail "a sanitizer reports faults in the app"; }
  fi
}

# The stand-in colour library under the first name the core tries.
install_library() {
  mkdir -p "$work/opt/ZEMRO/lib"
  cp "$build/engine/libzeruengine.so" "$work/opt/ZEMRO/lib/ZEMRO TX 7Mcl.so"
  mount --bind "$work/opt" /opt || fail "cannot mount the colour library's folder"
  OPT_MOUNTED=1
}

# The app's own client sub-commands; in a sanitizer build without leak
# checks: PAPPL's client code leaves its connection to the server unfreed.
client() {
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" timeout "$(scaled 30)" "$app" "$@"
}

app_answers() {
  kill -0 "$app_pid" 2>/dev/null || fail "the app exited: $(tail -n 20 "$work/app.out")"
  [ -S "$SNAP_COMMON/zeru-printer-app.sock" ] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null
}

# start_app [-o OPTION=VALUE...]: the server, with further options.
start_app() {
  port=$(free_port) || fail "no free port"
  note "starting the app on 127.0.0.1:$port"
  "$app" server -o server-port="$port" -o state-file="$work/app.state" \
    -o spool-directory="$work/app-spool" -o log-file="$work/app.log" -o log-level=debug "$@" \
    >>"$work/app.out" 2>&1 &
  app_pid=$!
  wait_for 20 app_answers || fail "the app does not answer on port $port"
  uri=ipp://127.0.0.1:$port/ipp/print
}

# add_printer NAME MODEL: a printer of the app writing its jobs into
# work/out/NAME.
add_printer() {
  mkdir -p "$work/out/$1"
  client add -d "$1" -m "zemro_$2" -v "file://$work/out/$1?ext=zeru" ||
    fail "the app refused a $2 printer"
}

# ipp_request NAME PRINTER BODY: runs one request of an ipptool test file
# made of BODY (the lines after the printer-uri) and prints ipptool's
# verbose output.
ipp_request() {
  local name=$1 printer=$2 body=$3 file=$work/$1.test
  cat >"$file" <<TEST
{
  NAME "$name"
$body
}
TEST
  timeout "$(scaled 60)" ipptool -T "$(scaled 60)" -tv "$uri/$printer" "$file" >"$work/$name.ipp" 2>&1 ||
    { cat "$work/$name.ipp" >&2; fail "ipptool: $name failed"; }
  cat "$work/$name.ipp"
}

operation() {
  cat <<OP
  OPERATION $1
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR name requesting-user-name tester
OP
}

# print_job NAME PRINTER FILE [job attribute lines]: Print-Job of a PWG
# raster; prints the job id.
print_job() {
  local name=$1 printer=$2 file=$3 extra=${4:-}
  local body
  body="$(operation Print-Job)
  ATTR name job-name $name
  ATTR mimeMediaType document-format image/pwg-raster
  GROUP job-attributes-tag
$extra
  FILE $file
  STATUS successful-ok"
  ipp_request "$name" "$printer" "$body" | sed -n 's/^ *job-id (integer) = \([0-9]*\)$/\1/p' | head -n 1
}

job_state() {
  local body
  body="$(operation Get-Job-Attributes)
  ATTR integer job-id $3
  STATUS successful-ok"
  ipp_request "state-$1-$3" "$2" "$body" | sed -n "s/^ *$4 ([^)]*) = //p"
}

# wait_job NAME PRINTER ID: waits until the job has ended; prints its state.
wait_job() {
  local state deadline=$((SECONDS + $(scaled 120)))
  while :; do
    state=$(job_state "$1" "$2" "$3" job-state)
    case $state in completed | aborted | canceled) echo "$state"; return 0 ;; esac
    [ "$SECONDS" -lt "$deadline" ] || fail "job $1 did not end (state $state)"
    sleep 0.3
  done
}

# submit_document NAME PRINTER FORMAT FILE: Print-Job of a document; prints
# the job id.
submit_document() {
  local id
  id=$(ipp_request "$1" "$2" "$(operation Print-Job)
  ATTR name job-name $1
  ATTR mimeMediaType document-format $3
  FILE $4
  STATUS successful-ok" | sed -n 's/^ *job-id (integer) = \([0-9]*\)$/\1/p' | head -n 1)
  [ -n "$id" ] || fail "$1: no job"
  echo "$id"
}

# expect_job_end NAME PRINTER ID STATE TEXT: the job ends in STATE with TEXT
# in its job-state-message.
expect_job_end() {
  local state message
  state=$(wait_job "$1" "$2" "$3")
  message=$(job_state "$1" "$2" "$3" job-state-message)
  [ "$state" = "$4" ] || fail "$1 ended $state, not $4 ($message)"
  grep -qF "$5" <<<"$message" || fail "$1: the message '$message' lacks '$5'"
  note "$1: $state, $message"
}

# cancel_job PRINTER ID: Cancel-Job; waits until the job is canceled.
cancel_job() {
  ipp_request "cancel-$2" "$1" "$(operation Cancel-Job)
  ATTR integer job-id $2
  STATUS successful-ok" >/dev/null
  local deadline=$((SECONDS + $(scaled 10)))
  until [ "$(job_state cancelled "$1" "$2" job-state)" = canceled ]; do
    [ "$SECONDS" -lt "$deadline" ] || fail "job $2 did not end after its cancel"
    sleep 0.3
  done
}

no_ghostscript() { ! pgrep -x gs >/dev/null; }

# facts FILE: what zerudump reads from a job stream, one fact a line.
facts() {
  "$build/tools/zerudump" --json "$1" | python3 -c '
import json, sys
d = json.load(sys.stdin)
s = d["settings"]
print("clean", d["clean"])
print("pages", d["pageCount"])
for key in ("DUPLEX", "RENDERMODE", "RESOLUTION", "QTY"):
    print(key, s.get(key))
for p in d["pages"]:
    print("page", p["number"], "colour" if p["colour"] else "gray", p["paperName"],
          p["resolution"], p["lines"])
print("trailer", (d["trailer"] or {}).get("line"))'
}

expect_fact() {
  grep -qxF "$2" "$1" || { cat "$1" >&2; fail "$1 lacks '$2'"; }
}

# start_avahi: a D-Bus system bus and an avahi-daemon of the test's own on
# its loopback, for a test already in a private network namespace (the
# app_test_begin one for mounts and processes): /run is a private tmpfs.
start_avahi() {
  local tool
  for tool in dbus-daemon avahi-daemon avahi-browse; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup.sh installs it)"
  done
  ip link set lo up && ip link set lo multicast on || fail "cannot bring up a multicast loopback"
  mount -t tmpfs -o mode=0755 zeru-e2e-run /run || fail "cannot mount a private /run"
  mkdir -p /run/dbus /run/avahi-daemon
  dbus-daemon --system --fork --nopidfile || fail "the private D-Bus system bus did not start"
  cat >"$work/avahi.conf" <<CONF
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
  avahi-daemon -f "$work/avahi.conf" --no-drop-root --no-rlimits --no-chroot -D ||
    fail "the private avahi-daemon did not start"
  wait_for 10 avahi_answers || fail "the private avahi-daemon does not answer"
}

avahi_answers() { timeout 5 avahi-browse -atp >/dev/null 2>&1; }

# browse TYPE: the resolved DNS-SD services of TYPE, one a line, as
# avahi-browse -p gives them (=;if;proto;name;type;domain;host;addr;port;txt).
browse() {
  timeout "$(scaled 10)" avahi-browse -rtpk "$1" 2>/dev/null | grep '^=' || true
}
