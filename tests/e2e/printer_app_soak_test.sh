#!/usr/bin/env bash
# Rounds of good and bad documents through one Printer Application: good
# PDF, PWG, URF, JPEG and PNG, PostScript that never ends (cancelled),
# PostScript that writes a file, PNG that fails after its header or is too
# large, PWG with lines of 512 MiB, 1-bit PWG, a job-name too long for a
# file name. Every job ends within a bound,
# the good ones complete and the bad ones abort; after the last round the
# next good job prints, the spool and /tmp hold nothing of the jobs, no
# Ghostscript remains, and the server's RSS is within a margin of its RSS
# after the first round.
# Usage: printer_app_soak_test.sh BUILD_DIR SOURCE_DIR
# ZERU_SOAK_ROUNDS sets the rounds (2 in the suite; bench/app_soak.sh runs more).
set -euo pipefail

build=$(cd "${1:?usage: printer_app_soak_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
source "$2/tests/e2e/app_common.sh"
app_test_begin "$@"
[ -x "$build/tests/apple_raster" ] || fail "no apple_raster in $build: build first"
rounds=${ZERU_SOAK_ROUNDS:-2}
# The server's RSS after the last round may exceed its RSS after the first
# by this much: PAPPL keeps each job's attributes in its history, and runs
# each job on a thread of its own, whose malloc arena keeps memory the job
# freed. Left to glibc's default (8 arenas a core), the arenas that round 2
# happens to take for the first time hold tens of megabytes of freed page
# buffers each, so that the first round's figure is no floor; two arenas are
# both in use within the first round. A leak grows beyond the margin in the
# long form (bench/app_soak.sh).
export MALLOC_ARENA_MAX=2
margin_kb=$((64 * 1024 * ${ZERU_TIME_SCALE:-1}))

docs=$work/docs
python3 "$2/tests/e2e/bad_documents.py" "$docs" || fail "cannot write the test documents"
make_pdf 2 "$docs/good.pdf"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -sPAPERSIZE=a4 -dFIXEDMEDIA -dcupsColorSpace=19 \
  -dcupsBitsPerColor=8 -r600 -sOutputFile="$docs/good.pwg" "$docs/good.pdf" || fail "no PWG"
"$build/tests/apple_raster" "$docs/good.pwg" "$docs/good.urf" || fail "no URF"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -r100 -dLastPage=1 \
  -sOutputFile="$docs/good.jpg" "$docs/good.pdf" || fail "no JPEG"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r100 -dLastPage=1 \
  -sOutputFile="$docs/good.png" "$docs/good.pdf" || fail "no PNG"

install_library
start_app -o ghostscript-page-timeout="$(scaled 20)"
add_printer p tx7
sleep 1

# The documents of a round: name, format, file, the state it ends in.
documents="good-pdf application/pdf good.pdf completed
good-pwg image/pwg-raster good.pwg completed
png-empty-idat image/png png-empty-idat.png aborted
good-urf image/urf good.urf completed
png-bomb image/png png-bomb.png aborted
good-jpeg image/jpeg good.jpg completed
pwg-bomb image/pwg-raster pwg-bomb.pwg aborted
good-png image/png good.png completed
pwg-1bit image/pwg-raster pwg-1bit.pwg aborted
probe application/postscript probe.ps aborted
png-broken-idat image/png png-broken-idat.png aborted"
# A job whose job-name is longer than a file name in the printer's folder
# may be: cancelled, with its reason.
long_name=$(printf 'n%.0s' $(seq 251))

rss() { awk '$1 == "VmRSS:" { print $2 }' "/proc/$app_pid/status"; }

first_rss=
for round in $(seq 1 "$rounds"); do
  note "round $round"
  while read -r name format file state; do
    id=$(submit_document "$name-$round" p "$format" "$docs/$file")
    [ "$(wait_job "$name-$round" p "$id")" = "$state" ] ||
      fail "$name-$round did not end $state: $(job_state "$name-$round" p "$id" job-state-message)"
  done <<<"$documents"
  id=$(ipp_request "long-$round" p "$(operation Print-Job)
  ATTR name job-name $long_name
  ATTR mimeMediaType document-format image/pwg-raster
  FILE $docs/good.pwg
  STATUS successful-ok" | sed -n 's/^ *job-id (integer) = \([0-9]*\)$/\1/p' | head -n 1)
  [ -n "$id" ] || fail "long-$round: no job"
  [ "$(wait_job "long-$round" p "$id")" = canceled ] || fail "long-$round was not cancelled"
  id=$(submit_document "endless-$round" p application/postscript "$docs/endless.ps")
  wait_for 20 pgrep -x gs >/dev/null || fail "Ghostscript did not start"
  cancel_job p "$id"
  wait_for 5 no_ghostscript || fail "Ghostscript still runs after the cancel"
  [ -n "$first_rss" ] || first_rss=$(rss)
  note "RSS after round $round: $(rss) kB"
done

# The next good job prints.
id=$(submit_document last p application/pdf "$docs/good.pdf")
[ "$(wait_job last p "$id")" = completed ] || fail "the last good job did not complete"
[ -s "$work/out/p/last.zeru" ] || fail "the last good job left no stream"

no_ghostscript || fail "Ghostscript remains"
[ ! -e /tmp/probe ] || fail "a document wrote /tmp/probe"
note "the spool holds: $(ls -A "$work/app-spool" | tr '\n' ' ')"
# The build and source trees may lie under /tmp too (bound back there).
source_dir=$(cd "$2" && pwd)
kept_tree() {
  case "$build/" in "$1"/*) return 0 ;; esac
  case "$source_dir/" in "$1"/*) return 0 ;; esac
  return 1
}
left=$({ find /tmp -mindepth 1 \( -path "$work" -o -path "$build" -o -path "$source_dir" \) -prune \
           -o -print | while read -r path; do kept_tree "$path" || echo "$path"; done
          find "$work/app-spool" -mindepth 1; } 2>/dev/null | head)
[ -z "$left" ] || fail "jobs left files behind: $left"
last_rss=$(rss)
note "RSS after round 1: $first_rss kB, at the end: $last_rss kB (margin $margin_kb kB)"
[ "$last_rss" -le $((first_rss + margin_kb)) ] || fail "the server's RSS grew by more than $margin_kb kB"
client status >/dev/null || fail "the app stopped serving"
stop_app
note "PASS"
