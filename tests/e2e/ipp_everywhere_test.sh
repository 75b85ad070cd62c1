#!/usr/bin/env bash
# The Printer Application against ipptool's IPP Everywhere suite
# (ipp-everywhere.test, which includes ipp-2.0.test and ipp-1.1.test): one
# printer of the app, every sample document the three files name made by
# Ghostscript in a temporary working folder (PDF, PostScript, JPEG, and PWG
# raster at each resolution and type under the folders the suite uses), the
# suite run with -I so that a failure does not end its file. Every test must
# pass but those PAPPL itself cannot meet, listed below with the reason, and
# the run must reach the last test of each file: ipptool quietly skips the
# rest of a file at a sample document it cannot find.
# Usage: ipp_everywhere_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: ipp_everywhere_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
app=$build/printer-app/zeru-printer-app
if [ ! -x "$app" ]; then
  echo "SKIP: no zeru-printer-app in $build (PAPPL was not found)"
  exit 77
fi
suite_dir=/usr/share/cups/ipptool
for tool in ipptool gs python3; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup.sh installs it)"
done
for file in ipp-everywhere.test ipp-2.0.test ipp-1.1.test; do
  [ -f "$suite_dir/$file" ] || fail "no $suite_dir/$file (scripts/setup.sh installs cups-ipp-utils)"
done
enter_private_namespace "$@"

# The tests that fail for what PAPPL 1.3.1 does (or leaves out) whatever
# the drivers say, by name: why, and the expectations (ipptool's EXPECTED
# lines) the test may miss for it; a test that misses any other fails.
declare -A known_reason known_misses
name="RFC 8011 section 4.2.5: Get-Printer-Attributes Operation (default)"
known_reason[$name]="to a client on the loopback PAPPL 1.3.1 offers only the ipp URI (printer-uri-supported, uri-authentication-supported: 1 value) but always says uri-security-supported none,tls (2 values)"
known_misses[$name]="(printer-uri-supported|uri-security-supported) \\([0-9]+ values?\\) SAME-COUNT-AS (uri-security-supported|uri-authentication-supported) .*"
name="Print-Job with job-hold-until"
known_reason[$name]="PAPPL 1.3.1 leaves job-hold-until-specified out of a held job's job-state-reasons"
known_misses[$name]="job-state-reasons"
name="PWG 5100.14 section 5.1/5.2 - Required Operations and Attributes"
known_reason[$name]="PAPPL 1.3.1 has no preferred-attributes-supported, overrides-supported or print-rendering-intent-default/-supported; the models have no identify action the app could perform (identify-actions-*)"
known_misses[$name]="(preferred-attributes-supported|overrides-supported|print-rendering-intent-(default|supported)|identify-actions-supported|identify-actions-default WITH-VALUE .*)"
# Each Debian release's ipptool asks a little differently; the lists above
# hold for both supported releases (cups-ipp-utils 2.4.2 on Debian 12, 2.4.10
# on Debian 13). A release's own misses go here, by its VERSION_CODENAME.
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
case $release in
  bookworm | trixie) ;;
  *) echo "note: the known failures were listed for Debian 12 and 13, not for '$release'" ;;
esac
# The last test of each file of the suite, in the order ipptool runs them.
last_tests=(
  "Release-Job"                                                        # ipp-1.1.test
  "PWG 5100.12 section 6.2 - Required Printer Description Attributes" # ipp-2.0.test
  "Print onepage-letter @ 720dpi, srgb-8, gzip"                        # ipp-everywhere.test
)

work=$(mktemp -d /tmp/zeru-ippeve.XXXXXX)
export SNAP_COMMON=$work/snap
mkdir -p "$SNAP_COMMON" "$work/out" "$work/samples"
source "${2:?}/tests/e2e/app_common.sh"

end_test() {
  local status=$?
  stop_app
  show_app_log "$status"
  unstage
  rm -rf "$work"
}
trap end_test EXIT

# ---- The sample documents ----
# Pages drawn by one PostScript procedure: A4 and US Letter documents of two
# pages, and the JPEG samples' pages of 4 x 6 inches in colour and in gray.
samples=$work/samples
cat >"$samples/prolog.ps" <<'PS'
/Helvetica findfont 24 scalefont setfont
/sheet { % width height label colour? sheet -
  /colour exch def /label exch def /h exch def /w exch def
  << /PageSize [w h] >> setpagedevice
  colour {
    1 0 0 setrgbcolor w 0.1 mul h 0.7 mul w 0.35 mul h 0.15 mul rectfill
    0 0.6 1 setrgbcolor w 0.55 mul h 0.7 mul w 0.35 mul h 0.15 mul rectfill
    1 0.9 0 setrgbcolor w 0.1 mul h 0.45 mul w 0.8 mul h 0.15 mul rectfill
  } {
    0.3 setgray w 0.1 mul h 0.7 mul w 0.35 mul h 0.15 mul rectfill
    0.7 setgray w 0.55 mul h 0.7 mul w 0.35 mul h 0.15 mul rectfill
  } ifelse
  0 setgray w 0.1 mul h 0.2 mul moveto label show
  0 setlinewidth 10 10 moveto w 10 sub h 10 sub lineto stroke
  showpage
} def
PS
postscript() { # FILE PAGE-CALLS...: a PostScript document of the given pages
  local out=$1
  shift
  { echo "%!PS-Adobe-3.0"; cat "$samples/prolog.ps"; printf '%s\n' "$@"; echo "%%EOF"; } >"$out"
}
postscript "$samples/document-a4.ps" "595 842 (A4 page 1) true sheet" "595 842 (A4 page 2) true sheet"
postscript "$samples/document-letter.ps" "612 792 (Letter page 1) true sheet" \
  "612 792 (Letter page 2) true sheet"
postscript "$samples/photo.ps" "288 432 (color.jpg) true sheet" "288 432 (gray.jpg) false sheet"

gs_run() {
  gs -q -dSAFER -dBATCH -dNOPAUSE "$@" >>"$work/gs.log" 2>&1
}

# pwg_set RESOLUTION NAME COLOURSPACE BITS: the PWG raster samples of one
# folder (pwg-raster-samples-300dpi/sgray-8/...), the pages rendered once
# and put together into the documents: document-* has two pages, onepage-*
# one, *.jpg-4x6 the JPEG's page. The suite names only color.jpg in srgb-16.
# One Ghostscript run a page size: Ghostscript 10.0 writes empty files for
# the pages after a change of size when it writes a file a page.
pwg_set() {
  local res=$1 name=$2 cs=$3 bits=$4 dir doc sources=(photo)
  dir=$samples/pwg-raster-samples-${res}dpi/$name
  mkdir -p "$dir"
  [ "$name" = srgb-16 ] || sources+=(document-a4 document-letter)
  for doc in "${sources[@]}"; do
    gs_run -sDEVICE=pwgraster -dcupsColorSpace="$cs" -dcupsBitsPerColor="$bits" -r"$res" \
      -sOutputFile="$dir/$doc-%d" "$samples/$doc.ps" || return 1
  done
  document() { # OUT PAGE...: one PWG raster file of the rendered pages
    local out=$dir/$1-$name-${res}dpi.pwg page
    shift
    printf 'RaS2' >"$out"
    # Ghostscript starts only the first page's file with the sync word.
    for page in "$@"; do
      [ -s "$dir/$page" ] || return 1
      if [ "$(head -c 4 "$dir/$page")" = RaS2 ]; then
        tail -c +5 "$dir/$page" >>"$out"
      else
        cat "$dir/$page" >>"$out"
      fi
    done
  }
  document color.jpg-4x6 photo-1 || return 1
  if [ "$name" != srgb-16 ]; then
    document gray.jpg-4x6 photo-2 &&
      document document-a4 document-a4-1 document-a4-2 &&
      document onepage-a4 document-a4-1 &&
      document document-letter document-letter-1 document-letter-2 &&
      document onepage-letter document-letter-1 || return 1
  fi
  rm -f "$dir"/photo-* "$dir"/document-a4-? "$dir"/document-letter-?
}

# make_samples: every sample document, into $samples.
make_samples() {
  local size res set running=0
  for size in a4 letter; do
    gs_run -sDEVICE=pdfwrite -sOutputFile="$samples/document-$size.pdf" "$samples/document-$size.ps" ||
      fail "ghostscript could not make document-$size.pdf"
  done
  gs_run -sDEVICE=jpeg -r100 -dFirstPage=1 -dLastPage=1 -sOutputFile="$samples/color.jpg" \
    "$samples/photo.ps" || fail "ghostscript could not make color.jpg"
  gs_run -sDEVICE=jpeggray -r100 -dFirstPage=2 -dLastPage=2 -sOutputFile="$samples/gray.jpg" \
    "$samples/photo.ps" || fail "ghostscript could not make gray.jpg"
  # Two Ghostscripts at a time: the PWG sets are most of the work.
  for res in 150 180 300 360 600 720; do
    for set in "black-1 3 1" "cmyk-8 6 8" "sgray-8 18 8" "srgb-8 19 8" "srgb-16 19 16"; do
      # shellcheck disable=SC2086  # the set's words are separate arguments
      pwg_set "$res" $set &
      running=$((running + 1))
      if [ "$running" -ge 2 ]; then
        wait -n || fail "ghostscript could not make a PWG raster set: $(tail -n 5 "$work/gs.log")"
        running=$((running - 1))
      fi
    done
  done
  while [ "$running" -gt 0 ]; do
    wait -n || fail "ghostscript could not make a PWG raster set: $(tail -n 5 "$work/gs.log")"
    running=$((running - 1))
  done
}

# The documents depend only on this script and Ghostscript: made once a
# build, kept beside the build's tests and copied from there by later runs.
samples_start=$SECONDS
cache=$build/tests/ipp-everywhere-samples
cache_key="$(sed -n '1,/^# The documents depend only/p' "$0" | sha256sum | cut -d' ' -f1) $(gs --version)"
if [ "$(cat "$cache/key" 2>/dev/null)" = "$cache_key" ]; then
  note "copying the sample documents made before"
  cp -a "$cache/." "$samples/"
else
  note "making the sample documents"
  make_samples
  rm -rf "$cache.new" "$cache"
  cp -a "$samples" "$cache.new" && printf '%s\n' "$cache_key" >"$cache.new/key" &&
    mv "$cache.new" "$cache" || note "the sample documents could not be kept in $cache"
fi
rm -f "$samples/key"
# Every document the suite names is there and is what its name says.
named=$(sed -n 's/^[[:space:]]*FILE[[:space:]]\{1,\}\([^$[:space:]][^[:space:]]*\)[[:space:]]*$/\1/p' \
  "$suite_dir/ipp-everywhere.test" "$suite_dir/ipp-2.0.test" "$suite_dir/ipp-1.1.test" | sort -u)
[ "$(wc -l <<<"$named")" -ge 150 ] || fail "the suite names only $(wc -l <<<"$named") documents"
while read -r file; do
  [ -s "$samples/$file" ] || fail "no sample document $file"
  case $file in
    *.pwg) starts_with "$samples/$file" "RaS2PwgRaster" || fail "$file is no PWG raster" ;;
    *.pdf) starts_with "$samples/$file" "%PDF-" || fail "$file is no PDF" ;;
    *.ps) starts_with "$samples/$file" "%!PS" || fail "$file is no PostScript" ;;
    *.jpg) starts_with "$samples/$file" $'\xff\xd8\xff' || fail "$file is no JPEG" ;;
    *) fail "the suite names a document of a kind not made here: $file" ;;
  esac
done <<<"$named"
python3 - "$samples" <<'PY' || fail "a PWG sample is not what its name says"
import os, re, struct, sys
# Resolution, bits per colour and colour space of every page header.
spaces = {"black-1": (1, 3), "cmyk-8": (8, 6), "sgray-8": (8, 18), "srgb-8": (8, 19), "srgb-16": (16, 19)}
for root, _, files in os.walk(sys.argv[1]):
    for name in files:
        m = re.match(r".*-(black-1|cmyk-8|sgray-8|srgb-8|srgb-16)-(\d+)dpi\.pwg$", name)
        if not m:
            continue
        data = open(os.path.join(root, name), "rb").read()
        bits, space = spaces[m.group(1)]
        dpi = int(m.group(2))
        # Offsets in the file, past the sync word.
        res = struct.unpack(">II", data[280:288])
        bpc, _, _, _, cs = struct.unpack(">IIIII", data[388:408])
        if res != (dpi, dpi) or bpc != bits or cs != space:
            sys.exit(f"{name}: {res} dpi, {bpc} bits, colour space {cs}")
PY
note "the sample documents took $((SECONDS - samples_start)) s"

# ---- The app, one printer ----
install_library
start_app
add_printer ippeve tx7m
# A new queue reports its up time from its second second on.
sleep 1

# ---- The suite ----
note "ipp-everywhere.test"
suite_start=$SECONDS
cp "$suite_dir/ipp-everywhere.test" "$suite_dir/ipp-2.0.test" "$suite_dir/ipp-1.1.test" "$samples/"
set +e
(cd "$samples" && timeout 600 ipptool -V 2.0 -t -I -f document-a4.pdf "$uri/ippeve" \
  ipp-everywhere.test >"$work/suite.out" 2>"$work/suite.err")
suite_status=$?
set -e
note "the suite took $((SECONDS - suite_start)) s (ipptool's status $suite_status)"
[ "$suite_status" -ne 124 ] || fail "ipptool did not finish in 600 s: $(tail -n 5 "$work/suite.out")"
[ -s "$work/suite.out" ] || fail "ipptool wrote nothing: $(cat "$work/suite.err")"
# Every test after a crash fails with "Host is down": say so first.
kill -0 "$app_pid" 2>/dev/null ||
  fail "the app died during the suite; the last jobs it started: $(grep -E '\] (Starting print job|Rendering with)' "$work/app.log" | tail -n 4)"

# ipptool's text report: one line a test, its name (cut at 68 characters)
# padded up to its verdict, then the reasons of a failure indented below
# it. The names this test looks for are shorter.
results=$(sed -n 's/^    \(.*[^ ]\) *\[\(PASS\|FAIL\|SKIP\)\]$/\2\t\1/p' "$work/suite.out")
passed=$(grep -c '^PASS' <<<"$results" || true)
skipped=$(grep -c '^SKIP' <<<"$results" || true)
failed=$(grep '^FAIL' <<<"$results" | cut -f 2- || true)
note "$passed passed, $skipped skipped, $(grep -c . <<<"$failed" || true) failed"

# The run reached the end of each file, in order.
names=$(cut -f 2- <<<"$results")
line=0
for name in "${last_tests[@]}"; do
  at=$(grep -nxF -- "$name" <<<"$names" | tail -n 1 | cut -d: -f 1)
  if [ -z "$at" ] || [ "$at" -le "$line" ]; then
    tail -n 20 "$work/suite.out" >&2
    fail "the suite did not reach '$name'"
  fi
  line=$at
done
# failure_expectations NAME: the EXPECTED lines of a failed test's report,
# and its complaints about the response's form (a duplicate attribute).
failure_expectations() {
  awk -v name="$1" '
    substr($0, 5, length(name)) == name && /\[FAIL\]$/ { show = 1; next }
    show && /^        / {
      if (sub(/^        EXPECTED: /, "") || sub(/^        (Duplicate )/, "Duplicate ")) print
      next
    }
    { show = 0 }' "$work/suite.out"
}
unexpected=0
while IFS= read -r name; do
  [ -n "$name" ] || continue
  misses=$(failure_expectations "$name")
  if [ -n "${known_reason[$name]:-}" ] && [ -n "$misses" ] &&
     ! grep -qvxE -- "${known_misses[$name]}" <<<"$misses"; then
    note "known failure: $name (${known_reason[$name]})"
  else
    unexpected=1
    echo "FAIL: $name" >&2
    # shellcheck disable=SC2001  # a prefix on every line
    sed 's/^/        EXPECTED: /' <<<"${misses:-(none)}" >&2
  fi
done <<<"$failed"
[ "$unexpected" -eq 0 ] || fail "the suite failed tests PAPPL does not explain"
[ "$passed" -ge 60 ] || fail "only $passed tests passed"
# The 600 dpi sRGB and sGray rasters, the app's own, were printed.
for name in "Print document-a4 @ 600dpi, srgb-8" "Print onepage-letter @ 600dpi, sgray-8" \
            "Print-Job with A4 PDF, Duplex" "Print-Job with US Letter PostScript" \
            "Print-Job with Color JPEG on A4"; do
  grep -qxF -- "PASS	$name" <<<"$results" || fail "'$name' did not pass"
done

# A known failure that passes now is worth knowing: the list must shrink.
for name in "${!known_reason[@]}"; do
  grep -qxF -- "PASS	$name" <<<"$results" &&
    fail "'$name' passes now: take it off the list of PAPPL's failures"
done
stop_app
note "PASS"
