#!/usr/bin/env bash
# A front end on the core's public API alone prints a full-sheet A4 PWG
# raster on A4, with its mark where the document put it.
#   pwg_to_zeru_test.sh PROGRAM SOURCE COLOUR-LIBRARY ZERUDUMP STREAM-FACTS
set -euo pipefail
program=$1 source=$2 library=$3 zerudump=$4 facts=$5

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The program includes nothing of the project but the core's public API.
others=$(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$source" | grep -vE '"zeru/' || true)
[ -z "$others" ] || fail "the front end includes more than zeru/: $others"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A4 at 600 dpi in sRGB, a black inch square one inch from the left and top
# edges of the sheet.
printf '%s\n' '0 setgray 72 697.89 72 72 rectfill showpage' >"$work/page.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -sPAPERSIZE=a4 -dFIXEDMEDIA -r600 \
  -dcupsColorSpace=19 -dcupsBitsPerColor=8 -sOutputFile="$work/page.pwg" "$work/page.ps"

"$program" "$library" "$work/page.pwg" "$work/page.zeru" || fail "the front end failed"
"$zerudump" "$work/page.zeru" >"$work/dump.txt" || fail "zerudump found problems: $(cat "$work/dump.txt")"
grep -q '^  paper 2 (A4),' "$work/dump.txt" && grep -q '^  paper size 209.9 x 297.0 mm' "$work/dump.txt" ||
  fail "not printed on A4: $(grep 'paper' "$work/dump.txt")"

# The square starts at dot 500 of the imageable area, 600 dots less its 100.
"$facts" "$work/page.zeru" >"$work/facts.txt"
grep -q '^pages 1$' "$work/facts.txt" || fail "not one page: $(cat "$work/facts.txt")"
grep -q '^problems 0$' "$work/facts.txt" || fail "stream problems: $(cat "$work/facts.txt")"
grep -Eq '^marks 1 [0-9]+ (49[5-9]|50[0-5]) (49[5-9]|50[0-5]) ' "$work/facts.txt" ||
  fail "the square is not in its place: $(grep '^marks' "$work/facts.txt")"
echo "ok"
