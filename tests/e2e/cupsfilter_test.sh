#!/usr/bin/env bash
# The real print chain without a scheduler: cupsfilter turns a PDF into the
# printer's job stream through pdftopdf, gstoraster and our filter, with the
# installed PPD, for colour and grayscale, 600 and 1200 dpi, two-sided
# printing and collated copies.
# Usage: cupsfilter_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: cupsfilter_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
enter_private_namespace "$@"

work=$(mktemp -d /tmp/zeru-cupsfilter.XXXXXX)
cleanup() {
  unstage
  rm -rf "$work"
}
trap cleanup EXIT

stage_install "$build"
make_server_bin "$work/serverbin"
printf 'ServerBin %s\n' "$work/serverbin" >"$work/cups-files.conf"
ppd=$STAGED_PPD_DIR/ztx7m.ppd
[ -f "$ppd" ] || fail "$ppd was not installed"

make_pdf 3 "$work/three.pdf"
make_pdf 1 "$work/one.pdf"

# run_job NAME DOCUMENT [cupsfilter options...]: prints into $work/NAME.zeru.
run_job() {
  local name=$1 doc=$2
  shift 2
  note "$name"
  if ! cupsfilter -c "$work/cups-files.conf" -p "$ppd" -m printer/zemro -e \
       -t "$name" "$@" "$doc" >"$work/$name.zeru" 2>"$work/$name.log"; then
    tail -n 30 "$work/$name.log" >&2
    fail "cupsfilter failed for $name"
  fi
  grep -q 'rastertozeru (PID [0-9]*) exited with no errors' "$work/$name.log" ||
    { tail -n 30 "$work/$name.log" >&2; fail "$name: our filter did not run to its end"; }
  check_stream "$work/$name.zeru"
}

run_job colour600 "$work/three.pdf" -o ColorModel=RGB -o Resolution=600x600dpi
has_pjl "$work/colour600.zeru" "@PJL SET RENDERMODE=COLOR"
has_pjl "$work/colour600.zeru" "@PJL SET RESOLUTION=600"
has_pjl "$work/colour600.zeru" "@PJL SET DUPLEX=OFF"
has_pjl "$work/colour600.zeru" "@PJL SET JOBATTR=DOC:colour600"

run_job gray600 "$work/three.pdf" -o ColorModel=Gray -o Resolution=600x600dpi
has_pjl "$work/gray600.zeru" "@PJL SET RENDERMODE=GRAYSCALE"
has_pjl "$work/gray600.zeru" "@PJL SET RESOLUTION=600"

run_job colour1200 "$work/one.pdf" -o ColorModel=RGB -o Resolution=1200x1200dpi
has_pjl "$work/colour1200.zeru" "@PJL SET RENDERMODE=COLOR"
has_pjl "$work/colour1200.zeru" "@PJL SET RESOLUTION=1200"

run_job gray1200 "$work/one.pdf" -o ColorModel=Gray -o cupsPrintQuality=High
has_pjl "$work/gray1200.zeru" "@PJL SET RENDERMODE=GRAYSCALE"
has_pjl "$work/gray1200.zeru" "@PJL SET RESOLUTION=1200"

# Three pages on both sides: a blank back is added, so four sides go out.
run_job duplex "$work/three.pdf" -o Duplex=DuplexNoTumble
has_pjl "$work/duplex.zeru" "@PJL SET DUPLEX=ON"
has_pjl "$work/duplex.zeru" "@PJL SET MDPXS=3"
has_pjl "$work/duplex.zeru" "@PJL SET JOBATTR=PCNT:3"

# Collated copies are sent by the filter itself; the printer makes one.
run_job collated "$work/three.pdf" -n 2 -o Collate=True
has_pjl "$work/collated.zeru" "@PJL SET QTY=1"

# Uncollated copies are left to the printer.
run_job uncollated "$work/one.pdf" -n 2 -o Collate=False
has_pjl "$work/uncollated.zeru" "@PJL SET COPIES=2"

note "all cupsfilter jobs passed"
