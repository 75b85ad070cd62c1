#!/usr/bin/env bash
# The packaged unit's sandbox. systemd-analyze security --offline rates the
# build's unit 4.0 or better. With no systemd to run it, its command line
# runs here under what of the sandbox the test can make by itself: the
# whole file system read-only but the unit's state, spool and runtime
# folders (ProtectSystem=strict, ReadWritePaths=, StateDirectory=,
# RuntimeDirectory=), a private /tmp (PrivateTmp=), the capability bounding
# set, no new privileges and the unit's umask. There it prints a PDF through
# Ghostscript to a stand-in socket: printer and a raw stream given by the
# admin socket. (The system-call filter, MemoryDenyWriteExecute=,
# RestrictAddressFamilies=, DevicePolicy= and the kernel protections need
# systemd itself: the unit's own checks stop at the rating.)
# Usage: service_sandbox_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: service_sandbox_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source_dir=$(cd "${2:?}" && pwd)
source "${2:?}/tests/e2e/common.sh"
unit=$build/printer-app/zeru-printer-app.service
if [ ! -x "$build/printer-app/zeru-printer-app" ] || [ ! -f "$unit" ]; then
  echo "SKIP: no zeru-printer-app in $build (PAPPL was not found)"
  exit 77
fi
for tool in systemd-analyze setpriv ip gs ipptool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
if [ -z "${ZERU_SANDBOX_NETNS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || fail "the end-to-end tests run as root"
  export ZERU_SANDBOX_NETNS=1
  exec unshare --net bash "$0" "$@"
fi
ip link set lo up
source "$2/tests/e2e/app_common.sh"
app_test_begin "$@"
# The unit's own socket folder, not the test's.
unset SNAP_COMMON

note "systemd-analyze security"
sed "s|^ExecStart=[^ ]* |ExecStart=$app |" "$unit" >"$work/zeru-printer-app.service"
(cd "$work" && systemd-analyze security --offline=true --no-pager ./zeru-printer-app.service) \
  >"$work/security.out" 2>&1 || { cat "$work/security.out" >&2; fail "systemd-analyze security failed"; }
exposure=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\) .*/\1/p' "$work/security.out")
[ -n "$exposure" ] || { cat "$work/security.out" >&2; fail "no exposure level"; }
note "exposure $exposure"
awk -v e="$exposure" 'BEGIN { exit !(e <= 4.0) }' || {
  grep '✗' "$work/security.out" >&2
  fail "the unit's exposure is $exposure, above 4.0"
}

setting() { sed -n "s/^$1=//p" "$work/zeru-printer-app.service"; }
command=$(setting ExecStart)
port=$(sed -n 's/.*server-port=\([0-9]*\).*/\1/p' <<<"$command")
spool=$(sed -n 's/.*spool-directory=\([^ ]*\).*/\1/p' <<<"$command")
files=$(sed -n 's/.*file-device-directory=\([^ ]*\).*/\1/p' <<<"$command")
state_dir=/var/lib/$(setting StateDirectory)
runtime_dir=/run/$(setting RuntimeDirectory)
[ "$(setting ReadWritePaths)" = "$spool" ] || fail "the unit's writable paths are not its spool"
[ "$(setting ProtectSystem)" = strict ] || fail "the unit's ProtectSystem is not strict"

# The system's folders, empty and private, as systemd prepares them.
for dir in /var/lib /var/spool /run; do
  mount -t tmpfs -o mode=0755 zeru-sandbox "$dir" || fail "cannot mount a private $dir"
done
install -d -m "$(setting StateDirectoryMode)" "$state_dir"
install -d -m "$(setting RuntimeDirectoryMode)" "$runtime_dir"
pre=$(setting ExecStartPre)
${pre#+} || fail "the unit's ExecStartPre failed: $pre"
install_library

printer_port=$(free_port) || fail "no free port"
mkdir -p "$work/printer" "$work/standin"
python3 "$source_dir/tests/e2e/standin_printer.py" "$printer_port" "$work/printer" \
  "$work/standin" "$work/printer.ready" >"$work/standin.out" 2>&1 &
standin_pid=$!
app_test_cleanup() { kill "$standin_pid" 2>/dev/null || true; }
wait_for 10 test -s "$work/printer.ready" || fail "the stand-in printer did not start"

# The server in a mount namespace of its own: every mount read-only but
# the unit's writable folders and a private /tmp, then the unit's bounding
# set, no new privileges and its umask.
capabilities=$(setting CapabilityBoundingSet | tr 'A-Z ' 'a-z\n' | sed -n 's/^cap_/+/p' | paste -sd,)
note "starting in the sandbox: $command"
# A build under /tmp stays reachable in the private /tmp, read-only.
keep=
case $build/ in /tmp/*) keep=$build ;; esac
# shellcheck disable=SC2016  # expanded by the inner shell
UNIT_UMASK="$(setting UMask)" UNIT_CAPS="$capabilities" UNIT_COMMAND="$command" UNIT_KEEP="$keep" \
  unshare --mount --propagation private bash -c '
  set -e
  for dir in "$@"; do mount --bind "$dir" "$dir"; done
  if [ -n "$UNIT_KEEP" ]; then
    mkdir -p /run/zeru-sandbox-host-tmp
    mount --rbind /tmp /run/zeru-sandbox-host-tmp
  fi
  awk '\''{print $2}'\'' /proc/self/mounts | sort -u | while read -r mp; do
    case $mp in /proc|/proc/*|/sys|/sys/*|/dev|/dev/*) continue ;; esac
    for dir in "$@"; do [ "$mp" = "$dir" ] && continue 2; done
    mount -o remount,bind,ro "$mp" 2>/dev/null || true
  done
  mount -t tmpfs -o mode=1777 zeru-private-tmp /tmp
  if [ -n "$UNIT_KEEP" ]; then
    mkdir -p "$UNIT_KEEP"
    mount --rbind "/run/zeru-sandbox-host-tmp/${UNIT_KEEP#/tmp/}" "$UNIT_KEEP"
    mount -o remount,bind,ro "$UNIT_KEEP"
  fi
  mount -t tmpfs -o mode=1777 zeru-private-tmp /var/tmp
  if touch /etc/zeru-sandbox-probe 2>/dev/null; then echo "/etc is writable" >&2; exit 1; fi
  umask "$UNIT_UMASK"
  exec setpriv --no-new-privs --bounding-set=-all,"$UNIT_CAPS" --inh-caps=-all $UNIT_COMMAND
'  sandbox "$state_dir" "$spool" "$runtime_dir" >"$work/app.out" 2>&1 &
app_pid=$!
socket=$runtime_dir/zeru-printer-app.sock
sandbox_answers() {
  kill -0 "$app_pid" 2>/dev/null || fail "the server exited: $(tail -n 20 "$work/app.out")"
  [ -S "$socket" ] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null
}
wait_for 20 sandbox_answers || fail "the server does not answer on port $port"
# unshare, bash and setpriv each run the next program in the same process.
server=$app_pid
grep -q '^NoNewPrivs:[[:space:]]*1$' "/proc/$server/status" || fail "the server may gain privileges"
bounding=$(sed -n 's/^CapBnd:[[:space:]]*//p' "/proc/$server/status")
[ "$bounding" = 0000000000000001 ] || fail "the server's bounding set is $bounding, not CAP_CHOWN alone"
effective=$(sed -n 's/^CapEff:[[:space:]]*//p' "/proc/$server/status")
[ "$effective" = 0000000000000001 ] || fail "the server's capabilities are $effective"
# -r: the server's own root too, for a test run inside a chroot, where
# entering a mount namespace alone moves to that namespace's real root.
if nsenter -m -r -t "$server" touch /var/lib/zeru-sandbox-probe 2>/dev/null; then
  fail "the server's /var/lib is writable"
fi

uri=ipp://127.0.0.1:$port/ipp/print
client add -d net -m zemro_tx7m -v "socket://127.0.0.1:$printer_port" ||
  fail "the server refused a socket: printer"
sleep 1
make_pdf 1 "$work/doc.pdf"
body="$(operation Print-Job)
  ATTR name requesting-user-name zuser
  ATTR name job-name sandboxed
  ATTR mimeMediaType document-format application/pdf
  FILE $work/doc.pdf
  STATUS successful-ok"
id=$(ipp_request sandboxed net "$body" | sed -n 's/^ *job-id (integer) = \([0-9]*\)$/\1/p' | head -n 1)
[ -n "$id" ] || fail "Print-Job gave no job id"
[ "$(wait_job sandboxed net "$id")" = completed ] || fail "the PDF job did not complete"
# The stand-in numbers connections; the printer's status probes may take
# one without a job.
latest() { find "$work/printer" -name 'job-*' -size +0 | sort -V | tail -n 1; }
pdf_stream=$(latest)
[ -n "$pdf_stream" ] || fail "the printer got no job stream"
check_stream "$pdf_stream"

note "a raw stream through the admin socket"
cp "$pdf_stream" "$work/raw.zeru"
client submit -d net -o document-format=application/vnd.zemro-zeru "$work/raw.zeru" ||
  fail "the admin socket's raw job failed"
raw_arrived() { [ "$(latest)" != "$pdf_stream" ] && cmp -s "$(latest)" "$work/raw.zeru"; }
wait_for 60 raw_arrived || fail "the raw job did not reach the printer unchanged"
note "ok"
