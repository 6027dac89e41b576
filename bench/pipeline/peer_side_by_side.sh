#!/usr/bin/env bash
# One benchmark-size synthetic sample through KORVANE_Pipeline and through OpenMS's
# FeatureFinderMetabo (the peer a user would pick instead), alternating on one core, with
# Para_Max_PeakWidth WIDTH (100: the wide-peak case of 4-10 scans per second); prints each run's
# wall time and peak resident memory, then the medians and their ratio.
#
#   bench/pipeline/peer_side_by_side.sh [BUILD_DIR] [WORK_DIR] [REPEATS] [CORE] [WIDTH]
#
# Needs FeatureFinderMetabo (Debian package topp) and, to write the mzML the peer reads,
# python3-numpy and python3-netcdf4 with ../shared/tools/cdf2mzml.py. BUILD_DIR defaults to build,
# WORK_DIR (about 130 MB) to a fresh temporary folder, REPEATS to 5, CORE to 3, WIDTH to 100.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
work="${2:-$(mktemp -d)}"
repeats="${3:-5}"
core="${4:-3}"
width="${5:-100}"
mkdir -p "$work/data" "$work/config"

if [ "$(id -u)" -eq 0 ]; then
  export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
fi

sample="$work/data/bench_01.CDF"
[ -f "$sample" ] || "$build/bin/KORVANE_GenerateSample" --output "$sample" > /dev/null
[ -f "$work/bench_01.mzML" ] || /usr/bin/python3 "$root/../shared/tools/cdf2mzml.py" "$sample" "$work/bench_01.mzML"
cp "$root"/examples/config/* "$work/config/"
sed -i "s/^Para_Max_PeakWidth,.*/Para_Max_PeakWidth,$width/" "$work/config/config_para.csv"

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

peer=() korvane=()
for r in $(seq 1 "$repeats"); do
  /usr/bin/time -f "%e %M" -o "$work/time.txt" taskset -c "$core" FeatureFinderMetabo \
    -in "$work/bench_01.mzML" -out "$work/bench_01.featureXML" -threads 1 \
    -algorithm:common:noise_threshold_int 1000 -algorithm:common:chrom_fwhm 6 \
    -algorithm:mtd:mass_error_ppm 10 -algorithm:ffm:isotope_filtering_model none > /dev/null 2>&1
  read -r seconds rss < "$work/time.txt"
  peer+=("$seconds")
  echo "run $r FeatureFinderMetabo: $seconds s, $((rss / 1024)) MiB"
  rm -rf "$work/out"
  /usr/bin/time -f "%e %M" -o "$work/time.txt" taskset -c "$core" "$build/bin/KORVANE_Pipeline" \
    -c "$work/config" -d "$work/data" -o "$work/out" > /dev/null
  read -r seconds rss < "$work/time.txt"
  korvane+=("$seconds")
  echo "run $r KORVANE_Pipeline:    $seconds s, $((rss / 1024)) MiB"
done

p=$(printf '%s\n' "${peer[@]}" | median)
k=$(printf '%s\n' "${korvane[@]}" | median)
echo "median wall time: FeatureFinderMetabo $p s, KORVANE_Pipeline $k s (whole process)"
awk -v a="$k" -v b="$p" 'BEGIN { printf "KORVANE_Pipeline / FeatureFinderMetabo: %.2f\n", a / b }'
echo "pipeline_process alone: $build/bin/pipeline_bench --max-peak-width $width (same core)"
