#!/usr/bin/env bash
# The Printer Application answers the same printer attributes however often
# it is asked: 2 000 Get-Printer-Attributes for everything, over 8
# connections at once, each hold printer-strings-languages-supported once
# and are all of one size, and the server's resident memory stays within
# 1 MiB of what it was after the first 200 (the plain build; a sanitizer
# build keeps freed memory in quarantine, and is not measured). Its log is
# rotated every few KiB meanwhile, and no request goes astray for it.
# Usage: printer_app_attributes_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: printer_app_attributes_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source_dir=$(cd "${2:?}" && pwd)
source "${2:?}/tests/e2e/common.sh"
source "$2/tests/e2e/app_common.sh"
app_test_begin "$@"

start_app -o log-max-size=16384
add_printer office tx7m
sleep 1
repeat() {
  timeout "$(scaled 300)" python3 "$source_dir/tests/e2e/ipp_post.py" --repeat "$uri/office" "$1" 8 \
    printer-strings-languages-supported >"$work/repeat.out" || fail "the requests failed"
}
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$app_pid/status"; }

repeat 200
before=$(rss)
repeat 2000
after=$(rss)
head -n 5 "$work/repeat.out"
[ "$(wc -l <"$work/repeat.out")" -eq 1 ] || fail "the responses differ (copies, size, requests above)"
read -r copies size requests <"$work/repeat.out"
[ "$copies" = 1 ] && [ "$requests" = 2000 ] ||
  fail "$requests responses hold printer-strings-languages-supported $copies times"
[ -s "$work/app.log.O" ] && [ -s "$work/app.log" ] || fail "the log was not rotated"
note "2000 responses of $size bytes; resident memory $before KiB, then $after KiB"
if ! ldd "$app" | grep -Eq 'lib[at]san'; then
  [ $((after - before)) -le 1024 ] || fail "resident memory grew by $((after - before)) KiB"
fi
