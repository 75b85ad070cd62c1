#!/usr/bin/env bash
# The Printer Application and a job whose name is longer than a file name
# may be, sent to a printer writing into a folder. A server that checks
# access, as the service does, cuts the name to fit before the job is made,
# and the job prints; one that does not ends the job with a message that
# says why, and prints the next job. Every client call is time-limited.
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
long_job() {
  ipp_request "$1" folder "$(operation Print-Job)
  ATTR name job-name $long
  ATTR mimeMediaType document-format image/pwg-raster
  FILE $work/page.pwg
  STATUS successful-ok" | sed -n 's/^ *job-id (integer) = \([0-9]*\)$/\1/p' | head -n 1
}
id=$(long_job long)
[ -n "$id" ] || fail "no job id for the long-named job"
[ "$(wait_job long folder "$id")" = canceled ] || fail "the long-named job was not cancelled"
job_state long folder "$id" job-state-message | grep -q "too long for a file name" ||
  fail "the long-named job does not say why it ended"

id=$(print_job short folder "$work/page.pwg")
[ "$(wait_job short folder "$id")" = completed ] || fail "the job after the long-named one failed"
[ -s "$work/out/folder/short.zeru" ] || fail "the job after the long-named one printed nothing"

# With access checked, the name is cut to 250 bytes with ".zeru", and the
# job prints into that file.
stop_app
start_app -o auth-service=zeru-printer-app-test
id=$(long_job long-checked)
[ -n "$id" ] || fail "no job id for the long-named job on the checking server"
[ "$(wait_job long-checked folder "$id")" = completed ] ||
  fail "the long-named job did not print: $(job_state long-checked folder "$id" job-state-message)"
name=$(job_state long-checked folder "$id" job-name)
[ "${#name}" -eq 250 ] && [ "${name:0:241}" = "${long:0:241}" ] && [ "${name:241:1}" = "~" ] ||
  fail "the long-named job's name is '$name'"
[ -s "$work/out/folder/$name.zeru" ] || fail "the long-named job printed nothing"
note "printer_app_job_name_test: all checks passed"
