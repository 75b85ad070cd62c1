#!/usr/bin/env bash
# The Printer Application's web pages over loopback: the printing defaults
# page offers every vendor option under the PPDs' texts, in English and, by
# the browser's Accept-Language, in German, French, Spanish and Japanese,
# with the PPDs' choice texts (in English for a language of PAPPL's own that
# the PPDs lack); the printer's page prints a test page through
# its form, whose job stream decodes to four planes with the cyan, magenta,
# yellow and black patches side by side and the gray ramp below them getting
# darker from left to right. The texts are compared with the compiled PPD's
# own texts and translations.
# Usage: printer_app_web_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: printer_app_web_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
source "$2/tests/e2e/app_common.sh"
app_test_begin "$@"
command -v curl >/dev/null || fail "curl is not installed"
ppd=$build/ppd/ppd/ztx7m.ppd
[ -f "$ppd" ] || fail "no compiled PPD $ppd: build first"
[ -x "$build/tests/stream_facts" ] || fail "no stream_facts in $build: build first"

install_library
start_app
add_printer web tx7m
web=http://127.0.0.1:$port/web

# fetch PATH [LANGUAGE]: a page of the printer, as a browser asking for
# LANGUAGE gets it.
fetch() {
  local header=()
  [ -z "${2:-}" ] || header=(-H "Accept-Language: $2")
  timeout 30 curl -sS --fail "${header[@]}" "$web$1" || fail "cannot fetch $web$1"
}

# ---- The printing defaults, in each language ----
# Italian pages (PAPPL's own language, none of the PPDs') show the English
# texts.
for language in en de fr es ja it; do
  texts=$language
  case $language in
    en) asked="" ;;
    de) asked="de-DE,de;q=0.9,en;q=0.5" ;;
    it) asked=it texts=en ;;
    *) asked=$language ;;
  esac
  fetch /printing "$asked" >"$work/printing-$language.html"
  python3 - "$ppd" "$work/printing-$language.html" "$texts" <<'PY' ||
import html, re, sys

ppd_path, page_path, language = sys.argv[1:]
# The PPD's texts: options by keyword, choices by (keyword, choice), in
# English from the UI lines, in another language from its translations.
options, choices = {}, {}
for line in open(ppd_path, encoding="utf-8"):
    line = line.rstrip("\n")
    if language == "en":
        m = re.match(r"\*OpenUI \*(\w+)/([^:]*):", line)
        if m:
            options[m[1]] = m[2]
            continue
        m = re.match(r"\*(\w+) ([^/:\s]+)/([^:]*): ", line)
    else:
        m = re.match(r"\*%s\.Translation (\w+)/([^:]*):" % language, line)
        if m:
            options[m[1]] = m[2]
            continue
        m = re.match(r"\*%s\.(\w+) ([^/:\s]+)/([^:]*): " % language, line)
    if m and m[1] not in ("Translation", "OpenUI", "CloseUI"):
        choices[(m[1], m[2])] = m[3]

page = open(page_path, encoding="utf-8").read()
# The form's rows: label, the name of its field, its choices' texts.
standard = {"media-source", "orientation-requested", "print-color-mode", "sides", "output-bin",
            "print-quality", "print-darkness", "print-speed", "print-content-optimize",
            "print-scaling", "printer-resolution"}
rows = {}
for label, cell in re.findall(r"<tr><th>([^<]*):</th><td>(.*?)</td></tr>", page):
    name = re.search(r'name="([^"]+)"', cell)
    if not name or name[1] in standard:
        continue
    texts = dict(re.findall(r'<option value="([^"]*)"[^>]*>([^<]*)</option>', cell))
    rows[name[1]] = (html.unescape(label), texts)

problems = []
if len(rows) != 28:
    problems.append("%d vendor options on the page, not 28: %s" % (len(rows), sorted(rows)))
option_texts = set(options.values())
choice_texts = set(choices.values())
for name, (label, texts) in rows.items():
    if label not in option_texts:
        problems.append("%s is labelled '%s', no option text of the PPD" % (name, label))
    if name in ("toner-saving", "image-type", "color-matching", "screening"):
        for value, text in texts.items():
            if text not in choice_texts:
                problems.append("%s=%s reads '%s', no choice text of the PPD" % (name, value, text))

# Options and choices as the app maps them onto the PPD.
expected = {
    "toner-saving": ("TonerMode", {"off": "Off", "level-2": "2"}),
    "image-type": ("ImageType", {"text-and-photo": "TextPhoto", "posters": "POP"}),
    "color-matching": ("IAM", {"complementary": "Complementary"}),
    "screening": ("Screen", {"auto": "Auto", "fineness": "Fineness"}),
    "brightness": ("StpBrightness", {}),
    "contrast-graphics": ("Contrastgraphic", {}),
    "density-cyan-mid": ("AKColorDensityCyanMid", {}),
    "pure-gray": ("GrayGuarantee", {}),
    "skip-blank-pages": ("AKSaveBlankSheet", {}),
}
for name, (keyword, values) in expected.items():
    if name not in rows:
        problems.append("no %s on the page" % name)
        continue
    label, texts = rows[name]
    if label != options.get(keyword):
        problems.append("%s: '%s', the PPD says '%s'" % (name, label, options.get(keyword)))
    for value, choice in values.items():
        if texts.get(value) != choices.get((keyword, choice)):
            problems.append("%s=%s: '%s', the PPD says '%s'"
                            % (name, value, texts.get(value), choices.get((keyword, choice))))
for problem in problems:
    print(language + ": " + problem)
sys.exit(1 if problems else 0)
PY
    fail "the $language printing defaults do not show the PPD's texts"
done
grep -q 'Tonersparmodus' "$work/printing-de.html" || fail "no German label"
grep -q 'トナー節約' "$work/printing-ja.html" || fail "no Japanese label"
note "28 vendor options under the PPD's texts in en, de, fr, es, ja, and English for it"

# ---- A test page from the printer's page ----
fetch / >"$work/home.html"
grep -q 'value="print-test-page"' "$work/home.html" || fail "the printer's page offers no test page"
session=$(sed -n 's/.*name="session" value="\([^"]*\)".*/\1/p' "$work/home.html" | head -n 1)
[ -n "$session" ] || fail "no session key in the printer's page"
timeout 30 curl -sS --fail -o "$work/posted.html" \
  --data-urlencode "session=$session" --data-urlencode "action=print-test-page" "$web/" ||
  fail "the test page form was refused"
grep -q 'Test page printed' "$work/posted.html" || fail "the page does not say the test page printed"
[ "$(wait_job test-page web 1)" = completed ] || fail "the test page did not complete"
# The page's file goes with its job.
no_test_page_file() { ! compgen -G "${TMPDIR:-/tmp}/zeru-test-page-*" >/dev/null; }
wait_for 10 no_test_page_file || fail "the test page's file outlived its job"

stream=$(ls "$work/out/web/"*.zeru) || fail "the test page left no job stream"
facts "$stream" >"$work/test-page.facts"
for fact in "clean True" "pages 1" "RENDERMODE COLOR" "RESOLUTION 600" "page 1 colour A4 600 6817"; do
  expect_fact "$work/test-page.facts" "$fact"
done
"$build/tests/stream_facts" "$stream" >"$work/test-page.marks"
for plane in 0 1 2 3; do
  grep -q "^marks 1 $plane " "$work/test-page.marks" ||
    fail "plane $plane of the test page has no dots: $(cat "$work/test-page.marks")"
done

# What the page shows, from its preview at 60 dpi: four patches of the four
# colours on one row, left to right, and the ramp below them.
"$build/tools/zerudump" --png "$work/preview" --scale 10 "$stream" >/dev/null ||
  fail "zerudump could not preview the test page"
python3 - "$work/preview/page-001.png" <<'PY' || fail "the test page does not show its patches and ramp"
import sys

from png_rows import read_png

width, height, channels, rows = read_png(sys.argv[1])
assert channels == 3, "not an 8-bit RGB preview"
pixel = lambda x, y: tuple(rows[y][x * 3:x * 3 + 3])
kinds = {
    "cyan": lambda r, g, b: r < 100 and g > 180 and b > 180,
    "magenta": lambda r, g, b: g < 100 and r > 180 and b > 180,
    "yellow": lambda r, g, b: b < 100 and r > 180 and g > 180,
    "black": lambda r, g, b: r < 60 and g < 60 and b < 60,
}
# The box of each colour's pixels; black only in the row of patches, whose
# height the cyan patch gives.
boxes = {}
for name, test in kinds.items():
    xs, ys = [], []
    for y in range(height):
        for x in range(width):
            if test(*pixel(x, y)):
                xs.append(x)
                ys.append(y)
    boxes[name] = (xs, ys)
cyan_x, cyan_y = boxes["cyan"]
assert cyan_x, "no cyan patch"
top, bottom = min(cyan_y), max(cyan_y)
found = {}
for name, (xs, ys) in boxes.items():
    inside = [(x, y) for x, y in zip(xs, ys) if top <= y <= bottom]
    assert len(inside) > 100, "no %s patch beside the cyan one" % name
    found[name] = (min(x for x, _ in inside), max(x for x, _ in inside))
    print(name, "patch at x", found[name], "y", (top, bottom))
order = sorted(found, key=lambda n: found[n][0])
assert order == ["cyan", "magenta", "yellow", "black"], "patches in the order %s" % order
for a, b in zip(order, order[1:]):
    assert found[a][1] < found[b][0], "%s and %s overlap" % (a, b)
# Patches of one width.
widths = [found[n][1] - found[n][0] for n in order]
assert max(widths) - min(widths) <= 2, "patches of widths %s" % widths

# The ramp: the first band below the patches that is neither white nor
# coloured, sampled along its middle row.
y = bottom + 1
gray = lambda p: max(p) - min(p) < 40 and min(p) < 235
while y < height and sum(gray(pixel(x, y)) for x in range(width)) < width // 2:
    y += 1
assert y < height, "no ramp below the patches"
ramp_top = y
while y < height and sum(gray(pixel(x, y)) for x in range(width)) >= width // 2:
    y += 1
middle = (ramp_top + y) // 2
xs = [x for x in range(width) if gray(pixel(x, middle))]
lightness = [sum(pixel(x, middle)) / 3 for x in range(min(xs), max(xs) + 1)]
steps = [sum(lightness[i:i + 5]) / 5 for i in range(0, len(lightness) - 5, max(1, len(lightness) // 10))]
print("ramp rows", ramp_top, y, "steps", [round(s) for s in steps])
assert all(b <= a + 8 for a, b in zip(steps, steps[1:])), "the ramp does not darken to the right"
assert steps[0] > 170 and steps[-1] < 60, "the ramp does not run from light gray to black"
PY
note "the test page printed from the web page: four planes, patches and ramp in place"
