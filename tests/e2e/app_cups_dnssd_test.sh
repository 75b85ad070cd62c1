#!/usr/bin/env bash
# A printer added to the running Printer Application reaches CUPS with no
# queue made by hand, as on a desktop (D-Bus system bus, avahi-daemon, a
# scheduler, all the test's own): CUPS lists it among its destinations
# (lpstat -e), and a job sent to it the way print dialogs send theirs
# (libcups's cupsCreateDestJob: CUPS-Create-Local-Printer with the
# discovered URI, then the job) prints a colour PDF in colour by default and
# two-sided when asked. The job stream that reached the app's file printer
# is decoded.
# Usage: app_cups_dnssd_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

if [ -z "${ZERU_CUPS_DNSSD_NETNS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "the end-to-end tests run as root" >&2; exit 1; }
  export ZERU_CUPS_DNSSD_NETNS=1
  exec unshare --net bash "$0" "$@"
fi
ip link set lo up

build=$(cd "${1:?usage: app_cups_dnssd_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
source "$2/tests/e2e/app_common.sh"
for tool in cupsd lp lpstat; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup.sh installs it)"
done
app_test_begin "$@"
# Filters run as lp: they must reach the scheduler's folders in $work.
chmod 0755 "$work"
# $status is app_end_test's: the scheduler's log shows after a failure.
app_test_cleanup() { stop_private_cupsd "${status:-1}"; }

gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE=a4 -dFIXEDMEDIA \
  -sOutputFile="$work/colour.pdf" - <<'PS' >/dev/null 2>&1 || fail "ghostscript could not make the PDF"
%!PS
1 1 3 { /n exch def 1 0 0 setrgbcolor 100 100 395 n 84 mul rectfill showpage } for
PS

start_avahi
install_library
start_app
app_port=$port
add_printer desk tx7m
wait_for 10 eval 'browse _ipp._tcp | grep -qF ";desk;"' || fail "desk is not advertised"

start_private_cupsd
note "CUPS lists the advertised printer among its destinations"
wait_for 20 eval 'lpstat -e 2>/dev/null | grep -qx desk' ||
  fail "lpstat -e does not list desk: $(lpstat -e 2>&1)"

note "a two-sided job through CUPS's temporary queue"
printed=$(timeout "$(scaled 120)" lp -d desk -o sides=two-sided-long-edge "$work/colour.pdf") ||
  fail "lp failed: $printed"
id=$(job_id "$printed")
[ -n "$id" ] || fail "lp gave no job id: $printed"
wait_for_job desk "$id"
lpstat -v desk 2>/dev/null | grep -q "$app_port" || note "the temporary queue: $(lpstat -v desk 2>&1)"

streams=("$work/out/desk/"*.zeru)
if [ "${#streams[@]}" -ne 1 ] || [ ! -s "${streams[0]}" ]; then
  fail "the app wrote no single job stream: $(ls -l "$work/out/desk")"
fi
facts "${streams[0]}" >"$work/stream.facts"
for fact in "clean True" "pages 4" "DUPLEX ON" "page 1 colour A4 600 6817" \
            "page 4 colour A4 600 6817"; do
  expect_fact "$work/stream.facts" "$fact"
done
grep -q "print-color-mode=color\|print-color-mode='color'" "$work/app.log" ||
  fail "CUPS did not send the job in colour"
if grep -q "print-color-mode=monochrome\|print-color-mode='monochrome'" "$work/app.log"; then
  fail "CUPS sent the job in monochrome"
fi
note "PASS"
