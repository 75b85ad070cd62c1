#!/usr/bin/env bash
# The Printer Application and a job whose first page PAPPL refuses (its
# colours banded): the job ends aborted and nothing of it reaches the
# printer. Every client call is time-limited.
# Usage: printer_app_aborted_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: printer_app_aborted_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
source "$2/tests/e2e/app_common.sh"
app_test_begin "$@"

install_library
start_app

# ---- A first page PAPPL refuses (its colours banded) ----
add_printer refused tx7m
printf '%%!PS\n0.5 setgray 72 72 200 200 rectfill showpage\n' |
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -sPAPERSIZE=a4 -dFIXEDMEDIA \
    -dcupsColorSpace=18 -dcupsBitsPerColor=8 -r300 -sOutputFile="$work/banded.pwg" - ||
  fail "ghostscript could not make the PWG raster"
# cupsColorOrder (4 + 396 bytes into the file): 1, banded.
printf '\0\0\0\1' | dd of="$work/banded.pwg" bs=1 seek=400 conv=notrunc status=none
id=$(print_job banded refused "$work/banded.pwg")
[ "$(wait_job banded refused "$id")" = aborted ] || fail "the banded job was not aborted"
out=$work/out/refused/banded.zeru
if [ -s "$out" ]; then fail "a job aborted before its first page sent $(stat -c %s "$out") bytes"; fi
note "printer_app_aborted_test: all checks passed"
