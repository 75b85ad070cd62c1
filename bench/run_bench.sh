#!/bin/sh
# Runs the filter over the benchmark's raster jobs as CUPS runs it, quiet and
# beside a competing CPU-bound process, and sets its times against the floor.
#
#   cmake --build build --target bench        (or: ZERU_BUILD=build sh bench/run_bench.sh)
#
# Environment: ZERU_BUILD the build directory (default ./build); ZERU_RUNS
# runs per profile and load (default 3, the median is reported);
# ZERU_PROFILES the profiles (default all); ZERU_INSTALLED=1 runs the
# installed filter and library instead of the build's; ZERU_VARIANTS="name=PATH ..."
# also runs other builds of the filter (for instance the main branch's), their
# runs interleaved with this build's ("this"), to show each change's gain
# from one run. The build's filter also runs with ZERU_JBIG=jbigkit
# ("jbigkit"), so that both JBIG encoders are timed in the same run.
#
# The build's filter runs in a private mount namespace in which the build's
# stand-in library sits at the fixed library path and /tmp is a private
# directory (log and spool files). Results go to $ZERU_BUILD/benchdata/results.tsv
# and a chart to $ZERU_BUILD/benchdata/stages.png (when gnuplot is there).
set -eu

build=$(cd "${ZERU_BUILD:-build}" && pwd)
bench=$(cd "$(dirname "$0")" && pwd)
runs=${ZERU_RUNS:-3}
profiles=${ZERU_PROFILES:-"colour600-text colour600-photo gray600 colour1200 mixed20"}
cores=$(nproc)
data=$build/benchdata
mkdir -p "$data/opt/ZEMRO/lib" "$data/tmp"
cp "$build/engine/libzeruengine.so" "$data/opt/ZEMRO/lib/ZEMRO TX 7Mcl.so"
chmod 1777 "$data/tmp"
ppd=$build/ppd/ppd/ztx7m.ppd
filter=$build/rastertozeru
if [ "${ZERU_INSTALLED:-0}" = 1 ]; then
  filter=/usr/lib/cups/filter/rastertozeru
  ppd=${PPD:-$ppd}
fi

# One run of the filter: prints "wall user sys maxrssKB".
run_filter() {
  prog=$1 ras=$2 options=$3 jbig=${4:-}
  if [ "${ZERU_INSTALLED:-0}" = 1 ]; then
    PPD=$ppd ZERU_JBIG=$jbig /usr/bin/time -f "%e %U %S %M" -o "$data/time.out" \
      "$prog" 1 bench bench 1 "$options" "$ras" >/dev/null 2>"$data/stderr.out"
  else
    PPD=$ppd ZERU_JBIG=$jbig unshare -m sh -c '
      mount --make-rprivate / &&
      mount --bind "$1/opt" /opt && mount --bind "$1/tmp" /tmp &&
      exec /usr/bin/time -f "%e %U %S %M" -o "$1/time.out" "$2" 1 bench bench 1 "$3" "$4"
    ' sh "$data" "$prog" "$options" "$ras" >/dev/null 2>"$data/stderr.out"
  fi
  if ! grep -q "Ready to print" "$data/stderr.out"; then
    echo "filter failed on $ras:" >&2; tail -5 "$data/stderr.out" >&2; exit 1
  fi
  tail -1 "$data/time.out"
}

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

load_pid=
start_load() {
  # The competing process: a shell busy loop on the last core.
  taskset -c $((cores - 1)) sh -c 'while :; do :; done' &
  load_pid=$!
  sleep 0.5
}
stop_load() { [ -n "$load_pid" ] && kill "$load_pid" && wait "$load_pid" 2>/dev/null || true; load_pid=; }
trap stop_load EXIT

echo "machine: $(uname -srm), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $cores cores"
echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC'), load before: $(cut -d' ' -f1-3 /proc/loadavg)"
variants="${ZERU_VARIANTS:-} jbigkit=$filter this=$filter"
printf '%-16s %-6s %-7s %5s %8s %8s %7s %7s %8s %8s %6s %8s\n' profile load filter pages wall/pg cpu/pg ppm peakMB floor/pg wall/flr sd ownflr/pg
out=$data/results.tsv
printf 'profile\tload\tfilter\tpages\twall_pg\tcpu_pg\tppm\tpeak_mb\tfloor_pg\tratio\tread_pg\tconvert_pg\tcompress_pg\town_compress_pg\n' >"$out"

for profile in $profiles; do
  ras=$data/$profile.ras
  [ -f "$ras" ] || "$build/bench/zeru_bench_raster" "$ras" "$profile"
  options="PageSize=A4"
  case $profile in *1200*) options="$options Resolution=1200x1200dpi" ;; esac
  # Warm the page cache with the job before any timing.
  cat "$ras" >/dev/null

  # The floor, in the same run: conversion and compression CPU over the cores.
  set -- $("$build/bench/zeru_bench_floor" "$data/opt/ZEMRO/lib/ZEMRO TX 7Mcl.so" "$ras" | tail -1)
  pages=$3 read=$5 convert=$7 compress=$9 owncompress=${11}
  floor=$(echo "$convert $compress $cores $pages" | awk '{printf "%.4f", ($1 + $2) / $3 / $4}')

  for load in quiet loaded; do
    [ $load = loaded ] && start_load
    for v in $variants; do : >"$data/runs-${v%%=*}.out"; done
    i=0
    while [ $i -lt "$runs" ]; do
      for v in $variants; do
        jbig=; [ "${v%%=*}" = jbigkit ] && jbig=jbigkit
        run_filter "${v#*=}" "$ras" "$options" "$jbig" >>"$data/runs-${v%%=*}.out"
      done
      i=$((i + 1))
    done
    [ $load = loaded ] && stop_load
    for v in $variants; do
    label=${v%%=*}
    cp "$data/runs-$label.out" "$data/runs.out"
    wall=$(awk '{print $1}' "$data/runs.out" | median)
    cpu=$(awk '{print $2 + $3}' "$data/runs.out" | median)
    peak=$(awk '{print $4}' "$data/runs.out" | median)
    spread=$(awk '{s+=$1; q+=$1*$1; n++} END {m=s/n; v=q/n-m*m; if (v<0) v=0; printf "%.3f", sqrt(v)}' "$data/runs.out")
    echo "$profile $load $label $pages $wall $cpu $peak $floor $read $convert $compress $spread $owncompress $cores" | awk -v out="$out" '{
      wpg = $5 / $4; cpg = $6 / $4; ppm = 60 / wpg; mb = $7 / 1024; ratio = wpg / $8
      ownfloor = ($10 + $13) / $14 / $4
      printf "%-16s %-6s %-7s %5d %8.3f %8.3f %7.1f %7.1f %8.3f %8.2f %6s %8.3f\n", $1, $2, $3, $4, wpg, cpg, ppm, mb, $8, ratio, $12, ownfloor
      printf "%s\t%s\t%s\t%d\t%.4f\t%.4f\t%.1f\t%.1f\t%.4f\t%.3f\t%.4f\t%.4f\t%.4f\t%.4f\n", $1, $2, $3, $4, wpg, cpg, ppm, mb, $8, ratio, $9 / $4, $10 / $4, $11 / $4, $13 / $4 >> out
    }'
    done
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "results: $out"

if command -v gnuplot >/dev/null; then
  gnuplot -e "results='$out'; chart='$data/stages.png'; cores=$cores" "$bench/stages.gp" &&
    echo "chart: $data/stages.png"
fi
