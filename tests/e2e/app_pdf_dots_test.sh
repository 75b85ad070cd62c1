#!/usr/bin/env bash
# A PDF printed through the Printer Application and through the CUPS chain
# (cupsfilter with the model's PPD: pdftopdf, gstoraster, our filter) puts
# its marks on the same dots: the two ways of rendering it (Ghostscript run
# by the app, cut to the imageable area, and gstoraster rendering the
# imageable area) place every mark of every plane within a dot of each
# other, with the same number of dots to within a hundredth.
# Usage: app_pdf_dots_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: app_pdf_dots_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
app=$build/printer-app/zeru-printer-app
if [ ! -x "$app" ]; then
  echo "SKIP: no zeru-printer-app in $build (PAPPL was not found)"
  exit 77
fi
[ -x "$build/tests/stream_facts" ] || fail "no stream_facts in $build: build first"
for tool in cupsfilter gs; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup.sh installs it)"
done
enter_private_namespace "$@"

work=$(mktemp -d /tmp/zeru-appdots.XXXXXX)
export SNAP_COMMON=$work/snap
mkdir -p "$SNAP_COMMON" "$work/out"
source "${2:?}/tests/e2e/app_common.sh"

end_test() {
  local status=$?
  stop_app
  show_app_log "$status"
  unstage
  rm -rf "$work"
}
trap end_test EXIT

# The staged install brings the colour library stand-in to /opt for both.
stage_install "$build"
make_server_bin "$work/serverbin"
printf 'ServerBin %s\n' "$work/serverbin" >"$work/cups-files.conf"

# Marks near the imageable area's corners and in the middle, in black, gray
# and colour, on two pages.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE=a4 -dFIXEDMEDIA \
   -sOutputFile="$work/marks.pdf" - <<'PS' || fail "ghostscript could not make the document"
%!PS
/Helvetica findfont 40 scalefont setfont
1 1 2 {
  /n exch def
  0 setgray 14 14 60 40 rectfill 520 786 60 40 rectfill
  0 setgray 100 600 moveto (Marks ) show n 4 string cvs show
  0.5 setgray 100 400 200 80 rectfill
  1 0 0 setrgbcolor 350 400 120 80 rectfill
  0 setgray 2 setlinewidth 40 100 moveto 550 700 lineto stroke
  showpage
} for
PS

# marks_of FILE: the marks of every plane of every page.
marks_of() {
  "$build/tests/stream_facts" "$1" | grep '^marks ' || true
}

for mode in color monochrome; do
  case $mode in
    color) model=RGB ;;
    monochrome) model=Gray ;;
  esac
  note "$mode"
  cupsfilter -c "$work/cups-files.conf" -p "$STAGED_PPD_DIR/ztx7m.ppd" -m printer/zemro -e \
    -o "ColorModel=$model" -o PageSize=A4 "$work/marks.pdf" >"$work/filter-$mode.zeru" \
    2>"$work/filter-$mode.log" || { tail -n 20 "$work/filter-$mode.log" >&2; fail "cupsfilter failed"; }
  [ -n "$app_pid" ] || { start_app; add_printer tx7m tx7m; }
  submitted=$(client submit -d tx7m -o print-color-mode="$mode" -o media=iso_a4_210x297mm \
    "$work/marks.pdf") || fail "submit of the PDF failed"
  id=${submitted##*-}
  [ "$(wait_job "dots-$mode" tx7m "$id")" = completed ] || fail "the $mode PDF did not complete"
  app_file=$(ls -t "$work/out/tx7m/"*.zeru | head -n 1)

  marks_of "$work/filter-$mode.zeru" >"$work/filter-$mode.marks"
  marks_of "$app_file" >"$work/app-$mode.marks"
  [ -s "$work/filter-$mode.marks" ] || fail "the filter's $mode stream has no marks"
  python3 - "$work/filter-$mode.marks" "$work/app-$mode.marks" <<'PY' || fail "$mode: the marks differ"
import sys
def read(path):
    marks = {}
    for line in open(path):
        _, page, plane, x0, y0, x1, y1, dots = line.split()
        marks[(int(page), int(plane))] = ([int(x0), int(y0), int(x1), int(y1)], int(dots))
    return marks
chain, app = read(sys.argv[1]), read(sys.argv[2])
ok = set(chain) == set(app)
if not ok:
    print("planes with marks differ:", sorted(chain), sorted(app))
for key in sorted(set(chain) & set(app)):
    (box_c, dots_c), (box_a, dots_a) = chain[key], app[key]
    if any(abs(c - a) > 1 for c, a in zip(box_c, box_a)) or abs(dots_c - dots_a) > dots_c / 100:
        print("page %d plane %d: chain %s %d dots, app %s %d dots" % (key + (box_c, dots_c, box_a, dots_a)))
        ok = False
sys.exit(0 if ok else 1)
PY
  note "$mode: $(wc -l <"$work/filter-$mode.marks") planes with marks match: $(tr '\n' ';' <"$work/app-$mode.marks")"
done
note "the app and the CUPS chain put the PDF's marks on the same dots"
