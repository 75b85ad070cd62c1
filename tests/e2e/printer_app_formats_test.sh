#!/usr/bin/env bash
# JPEG and Apple raster (URF) jobs through the Printer Application: a JPEG
# made by Ghostscript, in colour with two copies at draft quality and in
# monochrome at normal quality, and URF
# pages written by libcups (sRGB and sGray). zerudump reads each job stream
# back: its pages, planes, resolution and lines, and a preview of each page
# with the document's red and blue areas where the document put them and
# white paper between them.
# Usage: printer_app_formats_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: printer_app_formats_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
source "$2/tests/e2e/app_common.sh"
app_test_begin "$@"
[ -x "$build/tests/apple_raster" ] || fail "no apple_raster in $build: build first"

# job_facts FILE: facts of a job stream for expect_fact, one a line, with
# the planes of each page that carry data that decodes.
job_facts() {
  "$dump" --json "$1" | python3 -c '
import json, sys
d = json.load(sys.stdin)
print("clean", d["clean"])
print("pages", d["pageCount"])
print("RENDERMODE", d["settings"].get("RENDERMODE"))
for p in d["pages"]:
    planes = sum(1 for e in p["planes"] if e["length"] > 0 and e["decodes"])
    print("page", p["number"], "colour" if p["colour"] else "gray", p["paperName"], planes,
          "planes", p["resolution"], "dpi", p["lines"], "lines")
print("trailer", (d["trailer"] or {}).get("line"))'
}

# check_previews FILE colour|gray: every page's preview shows the document:
# red (or dark) top left, blue (or dark) bottom right, white in the middle
# and in the corners the document left empty. Places are fractions of the
# sheet, sampled over a small square.
check_previews() {
  local file=$1 kind=$2
  rm -rf "$file.png"
  "$dump" --png "$file.png" --scale 16 "$file" >/dev/null || fail "zerudump cannot preview $file"
  python3 - "$kind" "$file.png"/page-*.png <<'PY' || fail "$file does not show the document"
import sys

from png_rows import read_png

def colour_at(image, fx, fy):
    width, height, channels, rows = image
    cx, cy, n, total = int(fx * width), int(fy * height), 0, [0, 0, 0]
    for y in range(cy - 3, cy + 4):
        for x in range(cx - 3, cx + 4):
            pixel = rows[y][x * channels:(x + 1) * channels]
            for i in range(3):
                total[i] += pixel[i if channels == 3 else 0]
            n += 1
    return [t / n for t in total]

kind, pages = sys.argv[1], sys.argv[2:]
assert pages, "no previews"
problems = []
for path in pages:
    image = read_png(path)
    # The sheet's places, fractions from its top left corner: the document's
    # red area is 60-260 x 62-242 points of A4 from the top left, the blue
    # 340-540 x 602-782; the middle and the corners are white.
    red, blue = colour_at(image, 0.27, 0.18), colour_at(image, 0.74, 0.82)
    for name, fx, fy in (("middle", 0.5, 0.5), ("top right", 0.85, 0.12),
                         ("bottom left", 0.15, 0.88)):
        if min(colour_at(image, fx, fy)) < 230:
            problems.append("%s: the %s is not white: %s" % (path, name, colour_at(image, fx, fy)))
    if kind == "colour":
        if not (red[0] > 150 and red[0] - max(red[1], red[2]) > 80):
            problems.append("%s: no red top left: %s" % (path, red))
        if not (blue[2] > 80 and blue[2] - max(blue[0], blue[1]) > 40):
            problems.append("%s: no blue bottom right: %s" % (path, blue))
    else:
        for name, value in (("top left", red), ("bottom right", blue)):
            if max(value) > 200 or max(value) - min(value) > 1:
                problems.append("%s: no gray %s: %s" % (path, name, value))
for problem in problems:
    print(problem, file=sys.stderr)
sys.exit(1 if problems else 0)
PY
}

# ---- Documents: one A4 page, red top left, blue bottom right ----
cat >"$work/doc.ps" <<'PS'
%!PS
1 0 0 setrgbcolor 60 600 200 180 rectfill
0 0 1 setrgbcolor 340 60 200 180 rectfill
showpage
PS
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=90 -sPAPERSIZE=a4 -dFIXEDMEDIA -r100 \
  -sOutputFile="$work/page.jpg" "$work/doc.ps" || fail "ghostscript could not make the JPEG"
# Two pages of the same in sRGB, one in sGray, at 600 dpi, as URF.
for raster in "srgb 19 2" "sgray 18 1"; do
  read -r name space copies <<<"$raster"
  for _ in $(seq "$copies"); do cat "$work/doc.ps"; done |
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -sPAPERSIZE=a4 -dFIXEDMEDIA \
      -dcupsColorSpace="$space" -dcupsBitsPerColor=8 -r600 -sOutputFile="$work/$name.pwg" - ||
    fail "ghostscript could not make $name.pwg"
  "$build/tests/apple_raster" "$work/$name.pwg" "$work/$name.urf" || fail "no $name.urf"
done
head -c 8 "$work/srgb.urf" | grep -qa '^UNIRAST' || fail "libcups did not write URF"

install_library
start_app
mkdir -p "$work/out/tx7m"
client add -d tx7m -m zemro_tx7m -v "file://$work/out/tx7m?ext=zeru" || fail "no printer tx7m"
sleep 1
formats=$(ipp_request formats tx7m "$(operation Get-Printer-Attributes)
  ATTR keyword requested-attributes document-format-supported
  STATUS successful-ok")
for format in image/jpeg image/urf; do
  grep -q "document-format-supported.*$format" <<<"$formats" || fail "the printer does not take $format"
done

# print_document NAME FORMAT FILE [job attribute lines]: prints the job's
# stream file after the job has completed.
print_document() {
  local name=$1 format=$2 file=$3 extra=${4:-} id
  id=$(ipp_request "$name" tx7m "$(operation Print-Job)
  ATTR name job-name $name
  ATTR mimeMediaType document-format $format
  GROUP job-attributes-tag
$extra
  FILE $file
  STATUS successful-ok" | sed -n 's/^ *job-id (integer) = \([0-9]*\)$/\1/p' | head -n 1)
  [ -n "$id" ] || fail "$name: no job"
  [ "$(wait_job "$name" tx7m "$id")" = completed ] ||
    fail "$name did not complete: $(job_state "$name" tx7m "$id" job-state-message)"
  [ -s "$work/out/tx7m/$name.zeru" ] || fail "$name left no stream"
  echo "$work/out/tx7m/$name.zeru"
}

# ---- JPEG ----
note "JPEG"
# PAPPL renders the image at the resolution it picks for the print quality,
# draft 600 dpi, normal 1200 dpi; PAPPL makes the copies.
stream=$(print_document jpeg-colour image/jpeg "$work/page.jpg" "  ATTR keyword print-color-mode color
  ATTR enum print-quality 3
  ATTR integer copies 2")
job_facts "$stream" >"$work/jpeg-colour.facts"
for fact in "clean True" "pages 2" "RENDERMODE COLOR" "trailer @PJL EOJ" \
            "page 1 colour A4 4 planes 600 dpi 6817 lines" "page 2 colour A4 4 planes 600 dpi 6817 lines"; do
  expect_fact "$work/jpeg-colour.facts" "$fact"
done
check_previews "$stream" colour
stream=$(print_document jpeg-gray image/jpeg "$work/page.jpg" "  ATTR keyword print-color-mode monochrome")
job_facts "$stream" >"$work/jpeg-gray.facts"
for fact in "clean True" "pages 1" "RENDERMODE GRAYSCALE" "page 1 gray A4 1 planes 1200 dpi 13633 lines"; do
  expect_fact "$work/jpeg-gray.facts" "$fact"
done
check_previews "$stream" gray

# ---- URF ----
note "URF"
stream=$(print_document urf-colour image/urf "$work/srgb.urf" "  ATTR keyword print-color-mode color")
job_facts "$stream" >"$work/urf-colour.facts"
for fact in "clean True" "pages 2" "RENDERMODE COLOR" "trailer @PJL EOJ" \
            "page 1 colour A4 4 planes 600 dpi 6817 lines" "page 2 colour A4 4 planes 600 dpi 6817 lines"; do
  expect_fact "$work/urf-colour.facts" "$fact"
done
check_previews "$stream" colour
stream=$(print_document urf-gray image/urf "$work/sgray.urf" "  ATTR keyword print-color-mode monochrome")
job_facts "$stream" >"$work/urf-gray.facts"
for fact in "clean True" "pages 1" "RENDERMODE GRAYSCALE" "page 1 gray A4 1 planes 600 dpi 6817 lines"; do
  expect_fact "$work/urf-gray.facts" "$fact"
done
check_previews "$stream" gray
client status >/dev/null || fail "the app stopped serving"
stop_app
note "PASS"
