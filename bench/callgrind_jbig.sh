#!/bin/sh
# Instructions per dot of both JBIG encoders (callgrind), on a blank plane and
# on the planes of the benchmark's text and photo pages as the stand-in
# library screens them:
#
#   ZERU_BUILD=build sh bench/callgrind_jbig.sh
#
# Prints one line per plane: plane, dots, instructions per dot of JBIG-KIT
# and of the own encoder, and their ratio.
set -eu
build=$(cd "${ZERU_BUILD:-build}" && pwd)
data=$build/benchdata
planes=$data/planes
engine=$build/engine/libzeruengine.so
for profile in colour600-text colour600-photo; do
  [ -f "$data/$profile.ras" ] || { mkdir -p "$data"; "$build/bench/zeru_bench_raster" "$data/$profile.ras" "$profile"; }
  mkdir -p "$planes/$profile"
  [ -f "$planes/$profile/page1-plane0.pbm" ] ||
    ZERU_BENCH_PLANES=$planes/$profile "$build/bench/zeru_bench_floor" "$engine" "$data/$profile.ras" >/dev/null
done

count() {  # coder plane -> instructions
  valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file=/dev/null \
    "$build/bench/zeru_bench_jbig" "$1" "$2" 2>&1 | awk '/Collected/ {gsub(",", "", $4); print $4}'
}

printf '%-26s %10s %10s %10s %8s\n' plane dots jbigkit/dot own/dot ratio
for plane in blank colour600-text/page1-plane3 colour600-text/page1-plane0 \
             colour600-photo/page1-plane0 colour600-photo/page1-plane1 \
             colour600-photo/page1-plane2 colour600-photo/page1-plane3; do
  file=$plane
  [ "$plane" = blank ] || file=$planes/$plane.pbm
  dots=$("$build/bench/zeru_bench_jbig" own "$file" |
    awk '{for (i = 1; i < NF; ++i) { if ($i == "width") w = $(i + 1); if ($i == "height") h = $(i + 1) }; print w * h}')
  kit=$(count jbigkit "$file")
  own=$(count own "$file")
  echo "$plane $dots $kit $own" | awk '{printf "%-26s %10d %10.2f %10.3f %8.1f\n", $1, $2, $3 / $2, $4 / $2, $3 / $4}'
done
