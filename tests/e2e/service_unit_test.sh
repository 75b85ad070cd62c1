#!/usr/bin/env bash
# The Printer Application's systemd unit: systemd-analyze verify passes it,
# and its own command line, run by hand under its umask with the system's
# folders (/var/lib, /var/spool, /run) and network private to the test,
# starts a server that answers on loopback alone, keeps its state file for
# root alone, asks for credentials on its settings pages and stops on
# SIGTERM.
# Usage: service_unit_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: service_unit_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"

app=$build/printer-app/zeru-printer-app
unit=$build/printer-app/zeru-printer-app.service
if [ ! -x "$app" ] || [ ! -f "$unit" ]; then
  echo "SKIP: no zeru-printer-app in $build (PAPPL was not found)"
  exit 77
fi
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is not installed"; exit 77; }
command -v ip >/dev/null || { echo "SKIP: ip (iproute2) is not installed"; exit 77; }

if [ -z "${ZERU_SERVICE_IN_NAMESPACE:-}" ]; then
  [ "$(id -u)" -eq 0 ] || fail "the end-to-end tests run as root"
  export ZERU_SERVICE_IN_NAMESPACE=1
  exec unshare --mount --propagation private --net --pid --fork --kill-child bash "$0" "$@"
fi

# The system's folders, empty and private, and a private loopback.
for dir in /var/lib /var/spool /run; do
  mount -t tmpfs -o mode=0755 zeru-service "$dir" || fail "cannot mount a private $dir"
done
ip link set lo up || fail "cannot bring up the private loopback"
work=$(mktemp -d /run/zeru-service.XXXXXX)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The unit as installed, but running this build's server.
installed=$(sed -n 's/^ExecStart=\([^ ]*\) .*/\1/p' "$unit")
[ -n "$installed" ] || fail "no ExecStart in $unit"
sed "s|^ExecStart=$installed |ExecStart=$app |" "$unit" >"$work/zeru-printer-app.service"
note "systemd-analyze verify"
# The manual page is not installed from a build tree.
systemd-analyze verify --man=no "$work/zeru-printer-app.service" >"$work/verify.out" 2>&1 ||
  { cat "$work/verify.out" >&2; fail "systemd-analyze verify rejects the unit"; }

setting() { sed -n "s/^$1=//p" "$work/zeru-printer-app.service"; }
command=$(setting ExecStart)
grep -q -- '-o listen-hostname=localhost' <<<"$command" || fail "the unit does not listen on localhost alone"
[ "$(setting Restart)" = on-failure ] || fail "the unit does not restart on failure"
port=$(sed -n 's/.*server-port=\([0-9]*\).*/\1/p' <<<"$command")
state=$(sed -n 's/.*state-file=\([^ ]*\).*/\1/p' <<<"$command")
spool=$(sed -n 's/.*spool-directory=\([^ ]*\).*/\1/p' <<<"$command")
[[ $state == /var/lib/* && $spool == /var/spool/* ]] || fail "state $state and spool $spool are not the system's"

# The state folder as systemd makes it from StateDirectory= and
# StateDirectoryMode=.
install -d -m "$(setting StateDirectoryMode)" "/var/lib/$(setting StateDirectory)"
[ "$(dirname "$state")" = "/var/lib/$(setting StateDirectory)" ] ||
  fail "the state file $state is not in the unit's StateDirectory"

note "starting: $command"
(umask "$(setting UMask)"; exec $command) >"$work/server.log" 2>&1 &
pid=$!
answers() {
  kill -0 "$pid" 2>/dev/null || { cat "$work/server.log" >&2; fail "the server exited"; }
  [ -S /run/zeru-printer-app.sock ] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null
}
wait_for 20 answers || fail "the server does not answer on port $port"

listeners=$(ss -Hltn "sport = :$port" | awk '{print $4}' | sort -u | tr '\n' ' ')
for address in $listeners; do
  case $address in 127.0.0.1:*|\[::1\]:*) ;; *) fail "the server listens on $address" ;; esac
done
[ -n "$listeners" ] || fail "no listener on port $port"

mkdir -p "$work/out"
timeout 30 "$app" add -d office -m zemro_tx7m -v "file://$work/out?ext=zeru" ||
  fail "the server refused a printer"
timeout 30 "$app" status >"$work/status" || fail "status failed"

exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET /security HTTP/1.1\r\nHost: localhost:%s\r\nConnection: close\r\n\r\n' "$port" >&3
status=$(head -n 1 <&3 | tr -d '\r')
exec 3>&-
[[ $status == *" 401 "* ]] || fail "the security settings page without credentials gave: $status"

note "SIGTERM"
kill -TERM "$pid"
wait_for 20 eval '! kill -0 "$pid" 2>/dev/null' || fail "SIGTERM did not stop the server"
wait "$pid" || true
pid=
[ -f "$state" ] || fail "no state file $state"
[ "$(stat -c %a "$state")" = 600 ] || fail "the state file's mode is $(stat -c %a "$state")"
grep -q office "$state" || fail "the state file does not keep the printer"
[ -d "$spool" ] || fail "no spool folder $spool"
note "ok"
