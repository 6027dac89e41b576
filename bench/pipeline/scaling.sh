#!/usr/bin/env bash
# Sixteen benchmark-size synthetic samples (2400 scans, about 4.2 million centroids each) through
# KORVANE_Pipeline under mpiexec -np 1 and -np 8; prints the wall times, the speed-up and the
# peak resident memory of the largest process.
#
#   bench/pipeline/scaling.sh [BUILD_DIR] [WORK_DIR] [REPEATS]
#
# BUILD_DIR defaults to build, WORK_DIR (samples and results, about 600 MB) to a fresh temporary
# folder, REPEATS to 3 (the median wall time is reported).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
work="${2:-$(mktemp -d)}"
repeats="${3:-3}"
mkdir -p "$work/data"

if [ "$(id -u)" -eq 0 ]; then
  export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
fi

for k in $(seq 1 16); do
  f="$work/data/bench_$(printf %02d "$k").CDF"
  [ -f "$f" ] || "$build/bin/KORVANE_GenerateSample" --output "$f" --seed "$k" > /dev/null
done

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

# One machine: shared memory only, so Open MPI does not spend start-up time probing network
# transports (about 0.2 s of every run here). Both process counts get the same options.
mpi_opts=(--bind-to none --mca btl self,vader --mca pml ob1)

declare -A wall
for np in 1 8; do
  times=()
  for r in $(seq 1 "$repeats"); do
    rm -rf "$work/out_np$np"
    /usr/bin/time -f "%e %M" -o "$work/time_np$np.txt" \
      mpiexec "${mpi_opts[@]}" -np "$np" "$build/bin/KORVANE_Pipeline" \
        -c "$root/examples/config" -d "$work/data" -o "$work/out_np$np" > "$work/log_np$np.txt"
    read -r seconds _ < "$work/time_np$np.txt"
    times+=("$seconds")
    echo "np $np run $r: $seconds s"
  done
  wall[$np]=$(printf '%s\n' "${times[@]}" | median)
done

# Peak memory of one process handling one benchmark sample, without the launcher.
mkdir -p "$work/one"
ln -sf "$work/data/bench_01.CDF" "$work/one/bench_01.CDF"
/usr/bin/time -f "%M" -o "$work/rss.txt" "$build/bin/KORVANE_Pipeline" \
  -c "$root/examples/config" -d "$work/one" -o "$work/out_one" > /dev/null

echo "median wall time: np 1 ${wall[1]} s, np 8 ${wall[8]} s"
awk -v a="${wall[1]}" -v b="${wall[8]}" 'BEGIN { printf "speed-up: %.2f\n", a / b }'
echo "peak resident memory, one process, one sample: $(( $(cat "$work/rss.txt") / 1024 )) MiB"
if cmp -s "$work/out_np1/aligned_annotated_grouped_chromatograph_peaklist.aligndb" \
          "$work/out_np8/aligned_annotated_grouped_chromatograph_peaklist.aligndb"; then
  echo "aligned database: identical under np 1 and np 8"
else
  echo "aligned database: differs between np 1 and np 8 (rows reach rank 0 in another order)"
fi
echo "samples and results in $work"
