# Time per page by stage, from run_bench.sh's results.tsv:
#   gnuplot -e "results='results.tsv'; chart='stages.png'; cores=2" stages.gp
# One stacked bar per profile, load and filter: the floor's stages
# (conversion and JBIG compression CPU spread over the cores), the raster
# reading (CPU on one thread), and what the filter's wall time per page
# spends beyond those.
set terminal png size 1500,640 font ",10"
set output chart
set datafile separator "\t"
set style data histograms
set style histogram rowstacked
set style fill solid 0.85 border -1
set boxwidth 0.75
set key inside left top vertical
set ylabel "seconds per page (wall)"
set xtics rotate by -40 noenhanced font ",9"
set title "Time per page by stage: floor (convert + JBIG over the cores), raster read, and the rest of the filter's wall time"
set yrange [0:*]
set grid ytics
beyond(w, f, r) = (w - f - r > 0 ? w - f - r : 0)
plot results every ::1 using ($12 / cores):xtic(strcol(1)." ".strcol(2)." ".strcol(3)) title "convert / cores" lc rgb "#4477aa", \
     '' every ::1 using ($13 / cores) title "JBIG / cores" lc rgb "#66ccee", \
     '' every ::1 using 11 title "raster read (1 thread)" lc rgb "#bbbbbb", \
     '' every ::1 using (beyond($5, $9, $11)) title "filter beyond floor + read" lc rgb "#ee6677"
