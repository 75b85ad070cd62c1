#!/usr/bin/env bash
# The job benchmark of the Printer Application beside the filter, from one
# run: the same A4 pages, as CUPS raster through the filter (as CUPS runs
# it) and as PWG raster through the app (streamed with ipptool's Print-Job
# to a file printer), runs interleaved. Reports wall seconds per page, pages
# per minute and peak memory (the filter's maximum resident set; the
# server's VmHWM, once idle with its printer and once after the job), so
# that a server's growth with the number of pages shows (mixed20 is 20
# pages, the others one).
#
#   cmake --build build --target bench-app    (or: ZERU_BUILD=build bash bench/app_bench.sh)
#
# Environment: ZERU_BUILD the build directory (default ./build); ZERU_RUNS
# runs per profile (default 3, the median is reported); ZERU_PROFILES the
# profiles (default colour600-text gray600 colour600-photo mixed20).
# Everything runs in a private mount namespace in which the build's stand-in
# library sits at the fixed library path and /tmp is a private directory.
# Results go to $ZERU_BUILD/benchdata/app-results.tsv.
set -euo pipefail

build=$(cd "${ZERU_BUILD:-build}" && pwd)
if [ -z "${ZERU_APP_BENCH_INSIDE:-}" ]; then
  data=$build/benchdata
  mkdir -p "$data/opt/ZEMRO/lib" "$data/apptmp"
  cp "$build/engine/libzeruengine.so" "$data/opt/ZEMRO/lib/ZEMRO TX 7Mcl.so"
  chmod 1777 "$data/apptmp"
  exec env ZERU_APP_BENCH_INSIDE=1 unshare -m sh -c '
    mount --make-rprivate / && mount --bind "$1/opt" /opt && mount --bind "$1/apptmp" /tmp &&
    exec bash "$2" ' sh "$data" "$0"
fi

data=$build/benchdata
runs=${ZERU_RUNS:-3}
profiles=${ZERU_PROFILES:-"colour600-text gray600 colour600-photo mixed20"}
app=$build/printer-app/zeru-printer-app
filter=$build/rastertozeru
ppd=$build/ppd/ppd/ztx7m.ppd
work=$(mktemp -d /tmp/zeru-app-bench.XXXXXX)
export SNAP_COMMON=$work/snap
mkdir -p "$SNAP_COMMON" "$work/out"
app_pid=
stop_app() {
  [ -z "$app_pid" ] && return 0
  kill -TERM "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=
}
trap 'stop_app; [ -n "${ZERU_BENCH_DEBUG:-}" ] && cat "$work/ipptool.out" "$work/app.log" >&2; rm -rf "$work"' EXIT

free_port() {
  for port in $(shuf -i 20000-60000 -n 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return 0; }
  done 2>/dev/null
  return 1
}

# Starts a fresh server with one file printer; sets idle to its VmHWM in kB.
start_app() {
  rm -rf "$work/state" "$work/spool" "$work/out" "$SNAP_COMMON" && mkdir -p "$work/out" "$SNAP_COMMON"
  port=$(free_port)
  "$app" server -o server-port="$port" -o state-file="$work/state" \
    -o spool-directory="$work/spool" -o log-file="$work/app.log" -o log-level=warn \
    >"$work/app.out" 2>&1 &
  app_pid=$!
  i=0
  until [ -S "$SNAP_COMMON/zeru-printer-app.sock" ] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
    i=$((i + 1)); [ $i -lt 200 ] || { echo "the app does not start" >&2; exit 1; }
    sleep 0.1
  done
  timeout 30 "$app" add -d bench -m zemro_tx7m -v "file://$work/out?ext=zeru" >/dev/null
  sleep 1
  idle=$(awk '/VmHWM/ {print $2}' "/proc/$app_pid/status")
}

cat >"$work/print.test" <<'TEST'
{
  NAME "bench"
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name bench
  ATTR name job-name bench
  ATTR mimeMediaType document-format image/pwg-raster
  FILE $filetype
  STATUS successful-ok
  EXPECT job-id
}
{
  NAME "wait"
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id $job-id
  STATUS successful-ok
  EXPECT job-state WITH-VALUE 9 REPEAT-NO-MATCH REPEAT-LIMIT 3000
}
TEST

# One run through the app: prints "wall idleKB peakKB".
run_app() {
  start_app
  start=$(date +%s.%N)
  timeout "${ZERU_BENCH_TIMEOUT:-600}" ipptool -tv -T 600 -d filetype="$1" "ipp://127.0.0.1:$port/ipp/print/bench" \
    "$work/print.test" >"$work/ipptool.out" 2>&1 && ls "$work/out/"*.zeru >/dev/null 2>&1 ||
    { echo "the app's job failed:" >&2; cat "$work/ipptool.out" "$work/app.log" >&2; exit 1; }
  end=$(date +%s.%N)
  [ -n "${ZERU_BENCH_DEBUG:-}" ] && { cat "$work/ipptool.out"; ls -l "$work/out"; tail "$work/app.log"; } >&2
  peak=$(awk '/VmHWM/ {print $2}' "/proc/$app_pid/status")
  stop_app
  echo "$start $end $idle $peak" | awk '{printf "%.3f %d %d\n", $2 - $1, $3, $4}'
}

# One run of the filter as CUPS runs it: prints "wall peakKB".
run_filter() {
  PPD=$ppd /usr/bin/time -f "%e %M" -o "$work/time.out" \
    "$filter" 1 bench bench 1 "PageSize=A4" "$1" >/dev/null 2>"$work/filter.err"
  grep -q "Ready to print" "$work/filter.err" || { tail -5 "$work/filter.err" >&2; exit 1; }
  tail -1 "$work/time.out"
}

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

echo "machine: $(uname -srm), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores"
echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC'), load before: $(cut -d' ' -f1-3 /proc/loadavg)"
out=$data/app-results.tsv
printf 'profile\tpages\tfilter_wall_pg\tapp_wall_pg\tapp_vs_filter\tfilter_ppm\tapp_ppm\tfilter_peak_mb\tapp_idle_mb\tapp_peak_mb\n' >"$out"
printf '%-16s %5s %9s %9s %7s %7s %7s %9s %9s %9s\n' profile pages filter/pg app/pg app/flt flt-ppm app-ppm flt-MB idle-MB app-MB
for profile in $profiles; do
  ras=$data/$profile.ras pwg=$data/$profile.pwg
  [ -f "$ras" ] || "$build/bench/zeru_bench_raster" "$ras" "$profile"
  [ -f "$pwg" ] || "$build/bench/zeru_bench_raster" "$pwg" "$profile" pwg
  cat "$ras" "$pwg" >/dev/null
  case $profile in mixed20) pages=20 ;; *) pages=1 ;; esac
  : >"$work/filter.runs"; : >"$work/app.runs"
  i=0
  while [ $i -lt "$runs" ]; do
    run_filter "$ras" >>"$work/filter.runs"
    run_app "$pwg" >>"$work/app.runs"
    i=$((i + 1))
  done
  fwall=$(awk '{print $1}' "$work/filter.runs" | median)
  fpeak=$(awk '{print $2}' "$work/filter.runs" | median)
  awall=$(awk '{print $1}' "$work/app.runs" | median)
  aidle=$(awk '{print $2}' "$work/app.runs" | median)
  apeak=$(awk '{print $3}' "$work/app.runs" | median)
  echo "$profile $pages $fwall $awall $fpeak $aidle $apeak" | awk -v out="$out" '{
    f = $3 / $2; a = $4 / $2
    printf "%-16s %5d %9.3f %9.3f %7.2f %7.1f %7.1f %9.1f %9.1f %9.1f\n", $1, $2, f, a, a / f, 60 / f, 60 / a, $5 / 1024, $6 / 1024, $7 / 1024
    printf "%s\t%d\t%.4f\t%.4f\t%.3f\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\n", $1, $2, f, a, a / f, 60 / f, 60 / a, $5 / 1024, $6 / 1024, $7 / 1024 >> out
  }'
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "results: $out"
