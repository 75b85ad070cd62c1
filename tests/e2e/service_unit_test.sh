#!/usr/bin/env bash
# The Printer Application's systemd unit: systemd-analyze verify passes it,
# and its own command line, run by hand under its umask with the system's
# folders (/var/lib, /var/spool, /run) and network private to the test,
# starts a server that answers on loopback alone, keeps its state file for
# root alone, keeps its command-line socket for root and lpadmin, takes
# file: devices only in its own folder, prints without a password, asks the
# admin group's password (checked by the package's PAM service, with users
# of the test's own) for the admin operations and settings pages, and stops
# on SIGTERM. An unprivileged user reaches none of it.
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
chmod 0755 "$work"
source_dir=$(cd "$2" && pwd)

# Users of the test's own, seen by PAM and the server alone: zadmin in
# lpadmin, zuser not; and the package's PAM service.
command -v openssl >/dev/null || fail "openssl is not installed"
getent group lpadmin >/dev/null || fail "the system has no lpadmin group"
mkdir -p "$work/etc"
cp -a /etc/passwd /etc/shadow /etc/group "$work/etc/"
hash=$(openssl passwd -6 secret)
for user in zadmin:61001 zuser:61002; do
  echo "${user%%:*}:x:${user#*:}:${user#*:}::/nonexistent:/usr/sbin/nologin" >>"$work/etc/passwd"
  echo "${user%%:*}:$hash:19000:0:99999:7:::" >>"$work/etc/shadow"
  echo "${user%%:*}:x:${user#*:}:" >>"$work/etc/group"
done
sed -i 's/^\(lpadmin:[^:]*:[0-9]*:\)\(.*\)$/\1\2,zadmin/; s/^\(lpadmin:[^:]*:[0-9]*:\),/\1/' "$work/etc/group"
for file in passwd shadow group; do
  mount --bind "$work/etc/$file" "/etc/$file" || fail "cannot mount a private /etc/$file"
done
id -nG zadmin | grep -qw lpadmin || fail "zadmin is not in lpadmin"
cp -a /etc/pam.d "$work/pam.d"
cp "$source_dir/debian/zeru-printer-app.pam" "$work/pam.d/zeru-printer-app"
mount --bind "$work/pam.d" /etc/pam.d || fail "cannot mount a private /etc/pam.d"
pid=
cleanup() {
  local status=$?
  if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
  if [ "$status" -ne 0 ] && [ -f "$work/server.log" ]; then
    echo "--- last lines of the server's log" >&2
    tail -n 30 "$work/server.log" >&2
  fi
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

# The state and runtime folders as systemd makes them from StateDirectory=
# and RuntimeDirectory=, and the unit's ExecStartPre= (run outside its
# sandbox).
install -d -m "$(setting StateDirectoryMode)" "/var/lib/$(setting StateDirectory)"
install -d -m "$(setting RuntimeDirectoryMode)" "/run/$(setting RuntimeDirectory)"
[ "$(dirname "$state")" = "/var/lib/$(setting StateDirectory)" ] ||
  fail "the state file $state is not in the unit's StateDirectory"
pre=$(setting ExecStartPre)
${pre#+} || fail "the unit's ExecStartPre failed: $pre"
files=$(sed -n 's/.*file-device-directory=\([^ ]*\).*/\1/p' <<<"$command")
[[ $files == "$spool"/* ]] || fail "the unit keeps file: devices in '$files', not in its spool"
socket=/run/$(setting RuntimeDirectory)/zeru-printer-app.sock

note "starting: $command"
(umask "$(setting UMask)"; exec $command) >"$work/server.log" 2>&1 &
pid=$!
answers() {
  kill -0 "$pid" 2>/dev/null || { cat "$work/server.log" >&2; fail "the server exited"; }
  [ -S "$socket" ] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null
}
wait_for 20 answers || fail "the server does not answer on port $port"

listeners=$(ss -Hltn "sport = :$port" | awk '{print $4}' | sort -u | tr '\n' ' ')
for address in $listeners; do
  case $address in 127.0.0.1:*|\[::1\]:*) ;; *) fail "the server listens on $address" ;; esac
done
[ -n "$listeners" ] || fail "no listener on port $port"

[ "$(stat -c '%a %U %G' "$(dirname "$socket")")" = "750 root lpadmin" ] ||
  fail "the socket's folder is $(stat -c '%a %U %G' "$(dirname "$socket")")"

note "file: devices in the service's folder only"
install -d -m 0700 "$files/office"
timeout 30 "$app" add -d office -m zemro_tx7m -v "file://$files/office?ext=zeru" ||
  fail "the server refused a printer writing into $files/office"
timeout 30 "$app" status >"$work/status" || fail "status failed"
ln -s /var/lib "$files/link"
: >"$files/plain.prn"
for target in /var/lib/zeru-printer-app/x.prn /var/lib "$files/../../../var/lib/y.prn" \
  "$files/link" "$files/link/z.prn" "$files/plain.prn" "$files/missing"; do
  if timeout 30 "$app" add -d refused -m zemro_tx7m -v "file://$target" >/dev/null 2>&1; then
    fail "the server took the device file://$target"
  fi
done
[ ! -e /var/lib/zeru-printer-app/x.prn ] && [ ! -e /var/lib/y.prn ] && [ ! -e /var/lib/z.prn ] &&
  [ ! -s "$files/plain.prn" ] || fail "a refused file: device left a file behind"

note "an unprivileged user"
cp "$app" "$work/app" && chmod 0755 "$work/app"
echo "root's own" >/var/lib/canary && chmod 0600 /var/lib/canary
before=$(sha256sum "$state" /var/lib/canary 2>/dev/null; ls -la /var/lib /var/spool "$files")
as_nobody() {
  timeout 30 setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env "$@"
}
as_nobody test -r "$socket" && fail "nobody reaches the socket's folder"
echo 'payload' >"$work/payload" && chmod 0644 "$work/payload"
# The steps of an attack through the socket: each is refused with a message,
# and no private server of nobody's answers in its place.
for step in "add -d x -m zemro_tx7m -v file:///var/lib/canary" \
  "submit -d office -o document-format=application/vnd.zemro-zeru $work/payload" "status"; do
  # shellcheck disable=SC2086  # the step's words
  if as_nobody "$work/app" $step >"$work/nobody.out" 2>&1; then
    fail "nobody's '$step' succeeded: $(cat "$work/nobody.out")"
  fi
  grep -q "Unable to reach the server at $socket" "$work/nobody.out" ||
    fail "nobody's '$step' said: $(cat "$work/nobody.out")"
done
[ -z "$(find /tmp -maxdepth 1 -name 'zeru-printer-app*.sock' -print -quit)" ] ||
  fail "nobody's client started a server of its own"
after=$(sha256sum "$state" /var/lib/canary 2>/dev/null; ls -la /var/lib /var/spool "$files")
[ "$before" = "$after" ] || fail "root's files changed: $(diff <(echo "$before") <(echo "$after"))"

note "IPP without a password: printing, one's own job"
post() { timeout 60 python3 "$source_dir/tests/e2e/ipp_post.py" "$@"; }
printer=ipp://localhost:$port/ipp/print/office
printf '%%PDF-1.4\n%%%%EOF\n' >"$work/doc.pdf"
post "$printer" Print-Job op.name.requesting-user-name=zuser op.mime.document-format=application/pdf \
  --file "$work/doc.pdf" >"$work/print.out"
head -n 1 "$work/print.out" | grep -q '^HTTP 200 IPP 0x000[0-2]$' ||
  fail "Print-Job without a password: $(head -n 1 "$work/print.out")"
job=$(sed -n 's/^job-id=//p' "$work/print.out")
[ -n "$job" ] || fail "Print-Job gave no job-id"
for operation in Get-Job-Attributes Cancel-Job; do
  result=$(post "$printer" "$operation" op.integer.job-id="$job" op.name.requesting-user-name=zuser)
  result=${result%%$'\n'*}
  [[ $result == "HTTP 200 IPP 0x000"[0-2] ]] || fail "$operation of one's own job: $result"
done

note "the admin group's password"
# EXPECTED USER REQUEST...: the HTTP status of one request made as USER
# (nobody: no credentials; a wrong password for wrong).
expect_http() {
  local expected=$1 user=$2 credentials=()
  shift 2
  case $user in
    nobody) ;;
    wrong) credentials=(--user zadmin:wrong) ;;
    *) credentials=(--user "$user:secret") ;;
  esac
  local result
  result=$(post "$@" "${credentials[@]}")
  result=${result%%$'\n'*}
  [[ $result == "HTTP $expected "* ]] || fail "$*: as $user gave $result, not $expected"
}
raw=(op.name.requesting-user-name=zuser op.mime.document-format=application/vnd.zemro-zeru
  --file "$work/payload")
system=ipp://localhost:$port/ipp/system
create=(op.keyword.printer-service-type=print printer.name.printer-name=second
  op.keyword.smi55357-driver=zemro_tx7m "op.uri.smi55357-device-uri=file://$files/office")
for user in nobody wrong zuser; do
  expected=401
  [ "$user" = zuser ] && expected=403
  expect_http "$expected" "$user" "$printer" Print-Job "${raw[@]}"
  expect_http "$expected" "$user" "$system" Create-Printer "${create[@]}"
  expect_http "$expected" "$user" "$printer" Validate-Job "${raw[@]:0:2}"
done
expect_http 200 zadmin "$system" Create-Printer "${create[@]}"
expect_http 200 zadmin "$printer" Validate-Job "${raw[@]:0:2}"
post "$system" Create-Printer --user zadmin:secret op.keyword.printer-service-type=print \
  printer.name.printer-name=third op.keyword.smi55357-driver=zemro_tx7m \
  op.uri.smi55357-device-uri=file:///var/lib/third.prn >"$work/third.out"
! grep -q '^HTTP 200 IPP 0x000[0-2]$' "$work/third.out" && [ ! -e /var/lib/third.prn ] ||
  fail "Create-Printer took a file: device outside $files"

# PATH USER: the HTTP status of a web page.
page() {
  local credentials=()
  [ "$2" = nobody ] || credentials=(-u "$2:secret")
  curl -s -o /dev/null -w '%{http_code}' "${credentials[@]}" "http://localhost:$port$1"
}
command -v curl >/dev/null || fail "curl is not installed"
# (/addprinter browses DNS-SD, which aborts without avahi-daemon: not here.)
for path in /security /office/printing /office/config /office/delete; do
  [ "$(page "$path" nobody)" = 401 ] || fail "$path without a password: $(page "$path" nobody)"
  [ "$(page "$path" zuser)" = 403 ] || fail "$path as zuser: $(page "$path" zuser)"
  [ "$(page "$path" zadmin)" = 200 ] || fail "$path as zadmin: $(page "$path" zadmin)"
done

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
