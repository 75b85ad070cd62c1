#!/usr/bin/env bash
# Two printers of the Printer Application print at the same time in one
# process: printers of two models each get a multi-page job at once (one in
# colour, one in monochrome), first as PWG raster streamed by two clients (each job runs on
# its client's connection thread), then as PDF (two job threads, each with
# its own Ghostscript). Each printer's job stream must be its own job whole:
# its name, its PJL values, its pages, resolution and planes, and nothing of
# the other job's.
# Usage: printer_app_parallel_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: printer_app_parallel_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
source "$2/tests/e2e/app_common.sh"
app_test_begin "$@"

# job_facts FILE: facts of a job stream for expect_fact, one a line; planes
# counts the planes of each page that carry data.
job_facts() {
  "$dump" --json "$1" | python3 -c '
import json, sys
d = json.load(sys.stdin)
s = d["settings"]
print("clean", d["clean"])
print("pages", d["pageCount"])
for key in ("DUPLEX", "RENDERMODE", "RESOLUTION"):
    print(key, s.get(key))
for key, value in d["jobAttributes"].items():
    print("jobattr", key, value)
kinds = set()
for p in d["pages"]:
    planes = sum(1 for e in p["planes"] if e["length"] > 0 and e["decodes"])
    kinds.add("%s %s %d planes %d dpi %d lines" % ("colour" if p["colour"] else "gray",
              p["paperName"], planes, p["resolution"], p["lines"]))
for kind in sorted(kinds):
    print("every page", kind) if len(kinds) == 1 else print("mixed page", kind)
print("trailer", (d["trailer"] or {}).get("line"))'
}

# expect_job FILE NAME OTHER FACT...: the stream holds FACT..., carries the
# job name NAME and nothing named OTHER.
expect_job() {
  local file=$1 name=$2 other=$3
  shift 3
  job_facts "$file" >"$file.facts"
  local fact
  for fact in "clean True" "trailer @PJL EOJ" "$@"; do
    expect_fact "$file.facts" "$fact"
  done
  grep -aqF "$name" "$file" || fail "$file does not carry the job name $name"
  if grep -aqF "$other" "$file"; then fail "$file carries the other job's name $other"; fi
}

# ---- Documents ----
pages_ps() {
  cat <<PS
%!PS
/Helvetica findfont 40 scalefont setfont
1 1 $1 {
  /n exch def
  1 0 0 setrgbcolor 60 640 200 120 rectfill
  0 0.6 1 setrgbcolor 320 640 200 120 rectfill
  0 setgray 72 200 moveto (Page ) show n 4 string cvs show
  showpage
} for
PS
}
pages_ps 5 | gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -sPAPERSIZE=a4 -dFIXEDMEDIA \
  -dcupsColorSpace=19 -dcupsBitsPerColor=8 -r600 -sOutputFile="$work/five-srgb-600.pwg" - ||
  fail "ghostscript could not make the colour raster"
pages_ps 3 | gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -sPAPERSIZE=a4 -dFIXEDMEDIA \
  -dcupsColorSpace=18 -dcupsBitsPerColor=8 -r1200 -sOutputFile="$work/three-sgray-1200.pwg" - ||
  fail "ghostscript could not make the gray raster"
# A submitted file's name is its job's name.
make_pdf 4 "$work/pdf-colour-job.pdf"
make_pdf 3 "$work/pdf-mono-job.pdf"

install_library
start_app
mkdir -p "$work/out/colour" "$work/out/mono"
client add -d colour -m zemro_tx7m -v "file://$work/out/colour?ext=zeru" || fail "no printer colour"
client add -d mono -m zemro_tx7n -v "file://$work/out/mono?ext=zeru" || fail "no printer mono"
# A new queue reports its up time from its second second on.
sleep 1

# both_processing ID_COLOUR ID_MONO: both jobs are being processed now.
both_processing() {
  [ "$(job_state overlap colour "$1" job-state)" = processing ] &&
    [ "$(job_state overlap mono "$2" job-state)" = processing ]
}

# ---- PWG raster from two clients at once ----
note "two streamed jobs at once"
print_job stream-colour-job colour "$work/five-srgb-600.pwg" \
  "  ATTR keyword print-color-mode color" >"$work/stream-colour.id" &
colour_client=$!
print_job stream-mono-job mono "$work/three-sgray-1200.pwg" "  ATTR keyword print-color-mode monochrome
  ATTR keyword sides two-sided-long-edge
  ATTR enum print-quality 5" >"$work/stream-mono.id" &
mono_client=$!
wait "$colour_client" || fail "the colour client failed"
wait "$mono_client" || fail "the monochrome client failed"
colour_id=$(cat "$work/stream-colour.id")
mono_id=$(cat "$work/stream-mono.id")
[ "$(wait_job stream-colour-job colour "$colour_id")" = completed ] || fail "the colour stream failed"
[ "$(wait_job stream-mono-job mono "$mono_id")" = completed ] || fail "the monochrome stream failed"
# The two streams were printed side by side: each job's pages began while
# the other job was still printing (the log names each page's raster). The
# pages are counted here, by job and colour space (each printer numbers its
# own jobs): PAPPL 1.3.1 on Debian 13 leaves the number out.
page_order=$(sed -n 's/.*\[Job \([0-9]*\)\] Page [0-9]* *raster data is .*(\(sRGB\|sGray\))$/\1 \2/p' \
  "$work/app.log" | awk -v jobs=" $colour_id $mono_id " 'index(jobs, " " $1 " ") { print $2, ++pages[$1 " " $2] }')
first_gray=$(grep -n '^sGray 1$' <<<"$page_order" | head -n 1 | cut -d: -f1)
last_colour=$(grep -n '^sRGB 5$' <<<"$page_order" | head -n 1 | cut -d: -f1)
first_colour=$(grep -n '^sRGB 1$' <<<"$page_order" | head -n 1 | cut -d: -f1)
last_gray=$(grep -n '^sGray 3$' <<<"$page_order" | head -n 1 | cut -d: -f1)
[ -n "$first_gray" ] && [ -n "$last_colour" ] && [ -n "$first_colour" ] && [ -n "$last_gray" ] ||
  fail "the app's log lacks the streamed pages: $page_order"
[ "$first_gray" -lt "$last_colour" ] && [ "$first_colour" -lt "$last_gray" ] ||
  fail "the two streamed jobs were not printed at the same time: $(echo $page_order)"
expect_job "$work/out/colour/stream-colour-job.zeru" stream-colour-job stream-mono-job \
  "pages 5" "DUPLEX OFF" "RENDERMODE COLOR" "RESOLUTION 600" \
  "every page colour A4 4 planes 600 dpi 6817 lines"
# Three pages and the two-sided filler page.
expect_job "$work/out/mono/stream-mono-job.zeru" stream-mono-job stream-colour-job \
  "pages 4" "DUPLEX ON" "RENDERMODE GRAYSCALE" "RESOLUTION 1200" \
  "every page gray A4 1 planes 1200 dpi 13633 lines"

# ---- PDF on two job threads at once ----
note "two PDF jobs at once"
submitted=$(client submit -d colour "$work/pdf-colour-job.pdf") ||
  fail "submit to colour failed"
colour_id=${submitted##*-}
submitted=$(client submit -d mono -o print-color-mode=monochrome -o sides=two-sided-short-edge \
  -o copies=2 "$work/pdf-mono-job.pdf") || fail "submit to mono failed"
mono_id=${submitted##*-}
overlapped=no
deadline=$((SECONDS + $(scaled 60)))
while [ "$SECONDS" -lt "$deadline" ]; do
  if both_processing "$colour_id" "$mono_id"; then overlapped=yes; break; fi
  case $(job_state overlap colour "$colour_id" job-state) in completed | aborted | canceled) break ;; esac
  sleep 0.1
done
[ "$(wait_job pdf-colour colour "$colour_id")" = completed ] || fail "the colour PDF failed"
[ "$(wait_job pdf-mono mono "$mono_id")" = completed ] || fail "the monochrome PDF failed"
# Both job threads were seen printing at the same time: the test tests what
# it says.
[ "$overlapped" = yes ] || fail "the two PDF jobs never ran at the same time"
colour_file=$(ls "$work/out/colour/"*pdf-colour-job*.zeru 2>/dev/null | head -n 1)
mono_file=$(ls "$work/out/mono/"*pdf-mono-job*.zeru 2>/dev/null | head -n 1)
[ -n "$colour_file" ] && [ -n "$mono_file" ] || fail "the PDF jobs left no streams: $(ls -R "$work/out")"
expect_job "$colour_file" pdf-colour-job pdf-mono-job \
  "pages 4" "DUPLEX OFF" "RENDERMODE COLOR" "RESOLUTION 600" \
  "every page colour A4 4 planes 600 dpi 6817 lines"
# Three pages and the filler page, once for each copy.
expect_job "$mono_file" pdf-mono-job pdf-colour-job \
  "pages 8" "DUPLEX ON" "RENDERMODE GRAYSCALE" "RESOLUTION 600" \
  "every page gray A4 1 planes 600 dpi 6817 lines"
client status >/dev/null || fail "the app stopped serving"
stop_app
note "PASS"
