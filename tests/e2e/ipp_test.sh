#!/usr/bin/env bash
# What IPP clients reach through the scheduler's own mapping of job
# attributes onto the PPD, under a private cupsd with one queue per model:
# every queue offers the three sides values, 600 and 1200 dpi, monochrome and
# colour; jobs that ask for two sides on either edge, high quality or
# monochrome give the streams they ask for; a job's one-sided wins over a
# two-sided queue default; the scheduler sees each job's media progress
# reach 100. The streams are read back with stream_facts.
# Usage: ipp_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: ipp_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source "${2:?}/tests/e2e/common.sh"
enter_private_namespace "$@"

facts=$build/tests/stream_facts
[ -x "$facts" ] || fail "no stream_facts in $build: build first"
command -v ipptool >/dev/null || fail "ipptool is not installed (cups-ipp-utils)"

start_scheduler_test ipp "$build"
uri=ipp://127.0.0.1:$port

models=(ztx7m ztx7 ztx7mn ztx7n)
add_queue() {
  local queue=$1 model=$2
  shift 2
  lpadmin -p "$queue" -P "$STAGED_PPD_DIR/$model.ppd" -v "file:$work/out/$queue.zeru" -E \
    -o printer-error-policy=abort-job "$@" 2>"$work/log/lpadmin.err" ||
    fail "lpadmin refused $model.ppd: $(cat "$work/log/lpadmin.err")"
}
for model in "${models[@]}"; do
  add_queue "$model" "$model"
done
# A queue whose default is two-sided: the scheduler passes the default among
# the job's options.
add_queue twosided ztx7m -o Duplex-default=DuplexNoTumble

# ---- What each queue offers an IPP client ----
# expect_values FILE ATTRIBUTE VALUE...: ipptool's line for the attribute
# lists every value.
expect_values() {
  local file=$1 name=$2 line value
  shift 2
  line=$(grep -E "^ *$name \(" "$file") || fail "$file: no $name"
  for value in "$@"; do
    tr ',' '\n' <<<"${line#*= }" | grep -qxF -- "$value" ||
      fail "$file: $name lacks $value: $line"
  done
}
for model in "${models[@]}"; do
  note "$model: get-printer-attributes"
  attrs=$work/$model.attrs
  ipptool -tv "$uri/printers/$model" get-printer-attributes.test >"$attrs" 2>&1 ||
    { cat "$attrs" >&2; fail "ipptool get-printer-attributes failed for $model"; }
  expect_values "$attrs" sides-supported one-sided two-sided-long-edge two-sided-short-edge
  expect_values "$attrs" printer-resolution-supported 600dpi 1200dpi
  expect_values "$attrs" print-quality-supported normal high
  expect_values "$attrs" print-color-mode-supported monochrome color
done

# ---- Jobs ----
# A small document, A6, drawn at the top of each page only, so that a page
# turned by 180 degrees has its dots in its lower half.
make_top_pdf() {
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE=a6 -dFIXEDMEDIA \
     -sOutputFile="$2" - <<EOF || fail "ghostscript could not make $2"
%!PS
1 1 $1 {
  pop
  0 setgray 30 330 237 60 rectfill
  1 0 0 setrgbcolor 30 300 237 20 rectfill
  showpage
} for
EOF
}
make_top_pdf 1 "$work/one.pdf"
make_top_pdf 2 "$work/two.pdf"

# submit NAME QUEUE DOCUMENT [lp options...]: prints the job id.
submit() {
  local name=$1 queue=$2 doc=$3 out id
  shift 3
  out=$(lp -d "$queue" -t "$name" -o media=A6 "$@" "$doc") || fail "lp failed for $name"
  id=$(job_id "$out")
  [ -n "$id" ] || fail "no job id in: $out"
  echo "$id"
}

# finish NAME QUEUE ID: waits for the job, checks its stream, keeps its facts
# in $work/NAME.facts, and checks that its media progress reached 100.
finish() {
  local name=$1 queue=$2 id=$3 progress
  wait_for_job "$queue" "$id"
  cp "$work/out/$queue.zeru" "$work/$name.zeru"
  check_stream "$work/$name.zeru"
  "$facts" "$work/$name.zeru" >"$work/$name.facts" || fail "stream_facts failed for $name"
  grep -qx 'problems 0' "$work/$name.facts" || fail "$name: the stream has problems"
  # The filter reports it while it rasterises; the scheduler keeps the last.
  job_log "$id" | grep -q 'ATTR: job-media-progress=0$' ||
    fail "$name: the filter reported no job-media-progress"
  progress=$(ipptool -tv "$uri/jobs/$id" get-job-attributes.test 2>&1 |
             sed -n 's/^ *job-media-progress (integer) = //p')
  [ "$progress" = 100 ] || fail "$name: job-media-progress is '${progress:-none}', not 100"
}

# expect_facts NAME LINE...: every line is among the stream's facts.
expect_facts() {
  local name=$1 line
  shift
  for line in "$@"; do
    grep -qxF -- "$line" "$work/$name.facts" ||
      { cat "$work/$name.facts" >&2; fail "$name: no '$line'"; }
  done
}

note "two-sided long edge, short edge, high quality, monochrome"
long=$(submit long ztx7m "$work/two.pdf" -o sides=two-sided-long-edge)
short=$(submit short ztx7 "$work/two.pdf" -o sides=two-sided-short-edge)
high=$(submit high ztx7mn "$work/one.pdf" -o print-quality=5)
mono=$(submit mono ztx7n "$work/one.pdf" -o print-color-mode=monochrome)
# A one-sided job on the two-sided queue.
onesided=$(submit onesided twosided "$work/two.pdf" -o sides=one-sided)
finish long ztx7m "$long"
finish short ztx7 "$short"
finish high ztx7mn "$high"
finish mono ztx7n "$mono"
finish onesided twosided "$onesided"

# Long edge: the second side of the sheet, page 1, is sent last and turned.
expect_facts long 'setting DUPLEX=ON' 'setting RENDERMODE=COLOR' 'setting RESOLUTION=600' \
  'pages 2' 'page 1 planes 4 resolution 600 turned 0' 'page 2 planes 4 resolution 600 turned 1'
# Short edge: no side is turned.
expect_facts short 'setting DUPLEX=ON' 'pages 2' \
  'page 1 planes 4 resolution 600 turned 0' 'page 2 planes 4 resolution 600 turned 0'
expect_facts high 'setting DUPLEX=OFF' 'setting RENDERMODE=COLOR' 'setting RESOLUTION=1200' \
  'pages 1' 'page 1 planes 4 resolution 1200 turned 0'
expect_facts mono 'setting DUPLEX=OFF' 'setting RENDERMODE=GRAYSCALE' 'setting RESOLUTION=600' \
  'pages 1' 'page 1 planes 1 resolution 600 turned 0'
expect_facts onesided 'setting DUPLEX=OFF' 'pages 2'

note "the two-sided queue's default; a printer resolution"
default=$(submit default twosided "$work/two.pdf")
resolution=$(submit resolution ztx7m "$work/one.pdf" -o printer-resolution=1200dpi \
             -o print-color-mode=monochrome)
finish default twosided "$default"
finish resolution ztx7m "$resolution"
expect_facts default 'setting DUPLEX=ON' 'pages 2' 'page 2 planes 4 resolution 600 turned 1'
expect_facts resolution 'setting DUPLEX=OFF' 'setting RENDERMODE=GRAYSCALE' \
  'setting RESOLUTION=1200' 'page 1 planes 1 resolution 1200 turned 0'

note "all IPP jobs passed"
