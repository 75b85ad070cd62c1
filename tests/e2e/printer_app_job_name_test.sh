#!/usr/bin/env bash
# The Printer Application and a job whose name is longer than a file name
# may be, sent to a printer writing into a folder: the job ends with a
# message that says why, and the printer prints the next job. Every client
# call is time-limited.
# Usage: printer_app_job_name_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: printer_app_job_name_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
source "$2/tests/e2e/app_common.sh"
app_test_begin "$@"

install_library
start_app
add_printer folder tx7m
printf '%%!PS\n0.5 setgray 72 72 200 200 rectfill showpage\n' |
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -sPAPERSIZE=a4 -dFIXEDMEDIA \
    -dcupsColorSpace=18 -dcupsBitsPerColor=8 -r600 -sOutputFile="$work/page.pwg" - ||
  fail "ghostscript could not make the PWG raster"

# 251 characters and ".zeru": one more than a file name may have.
long=$(printf 'n%.0s' $(seq 251))
body="$(operation Print-Job)
  ATTR name job-name $long
  ATTR mimeMediaType document-format image/pwg-raster
  FILE $work/page.pwg
  STATUS successful-ok"
id=$(ipp_request long folder "$body" | sed -n 's/^ *job-id (integer) = \([0-9]*\)$/\1/p' | head -n 1)
[ -n "$id" ] || fail "no job id for the long-named job"
[ "$(wait_job long folder "$id")" = canceled ] || fail "the long-named job was not cancelled"
job_state long folder "$id" job-state-message | grep -q "too long for a file name" ||
  fail "the long-named job does not say why it ended"

id=$(print_job short folder "$work/page.pwg")
[ "$(wait_job short folder "$id")" = completed ] || fail "the job after the long-named one failed"
[ -s "$work/out/folder/short.zeru" ] || fail "the job after the long-named one printed nothing"
note "printer_app_job_name_test: all checks passed"
