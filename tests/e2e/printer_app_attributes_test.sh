#!/usr/bin/env bash
# The Printer Application answers the same printer attributes however often
# it is asked: 2 000 Get-Printer-Attributes over 8 connections at once each
# hold printer-strings-languages-supported once and are all of one size, and
# the server's resident memory stays within 1 MiB of what it was after the
# first 200 (the plain build; a sanitizer build keeps freed memory in
# quarantine, and is not measured). Its log is rotated every few KiB
# meanwhile, and no request goes astray for it.
#
# PAPPL 1.3.1 hands a printer's own capability collections (finishing-col-*,
# media-size-supported, media-col-database) to every response that holds
# them, and libcups 2 keeps a collection's place while writing it in the
# collection itself: responses written at the same moment garble each
# other's copies. The parallel requests above ask for everything but those;
# one connection asks for everything. Then 8 connections ask for everything
# 2 000 times, where garbled answers are expected, and the server must live
# through it with its memory sound (the collections' use counts race too).
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
# repeat COUNT CONNECTIONS REQUESTED [--garbled-ok]
repeat() {
  timeout "$(scaled 300)" python3 "$source_dir/tests/e2e/ipp_post.py" --repeat "$uri/office" "$1" "$2" \
    printer-strings-languages-supported "${@:3}" >"$work/repeat.out" || fail "the requests failed"
}
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$app_pid/status"; }
# one_answer COUNT: all COUNT responses alike, with the languages once.
one_answer() {
  head -n 5 "$work/repeat.out"
  [ "$(wc -l <"$work/repeat.out")" -eq 1 ] || fail "the responses differ (copies, size, requests above)"
  read -r copies size requests <"$work/repeat.out"
  [ "$copies" = 1 ] && [ "$requests" = "$1" ] ||
    fail "$requests responses hold printer-strings-languages-supported $copies times"
}

# Everything a printer says but PAPPL's shared collections.
unshared=printer-strings-languages-supported,printer-strings-uri,printer-state,printer-state-reasons
unshared+=,printer-state-message,printer-supply,printer-supply-description,marker-levels,marker-names
unshared+=,marker-colors,media-col-ready,media-col-default,media-ready,media-supported
unshared+=,document-format-supported,printer-make-and-model,printer-icons,printer-input-tray
unshared+=,printer-resolution-supported,sides-supported,printer-uri-supported,printer-xri-supported
unshared+=,job-creation-attributes-supported,printer-settable-attributes-supported

repeat 200 8 "$unshared"
before=$(rss)
repeat 2000 8 "$unshared"
after=$(rss)
one_answer 2000
note "2000 responses of $size bytes; resident memory $before KiB, then $after KiB"
if ! ldd "$app" | grep -Eq 'lib[at]san'; then
  [ $((after - before)) -le 1024 ] || fail "resident memory grew by $((after - before)) KiB"
fi
repeat 200 1 all
one_answer 200
all_size=$size

repeat 2000 8 all --garbled-ok
garbled=$(awk '$1 == "garbled" {print $2}' "$work/repeat.out")
note "everything, 8 connections at once: ${garbled:-no} garbled answers of 2000"
kill -0 "$app_pid" 2>/dev/null || fail "the app died under parallel requests: $(tail -n 5 "$work/app.out")"
repeat 20 1 all
one_answer 20
[ "$size" = "$all_size" ] || fail "the answer changed from $all_size to $size bytes"
[ -s "$work/app.log.O" ] && [ -f "$work/app.log" ] || fail "the log was not rotated"
