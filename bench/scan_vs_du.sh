#!/usr/bin/env bash
# Compares the scanner with du on the standard trees, side by side with warm caches.
#
#   bench/scan_vs_du.sh [TREE...]      (default: T1 T2)
#
# Builds bench/qvscan in release mode (build-bench/), generates the trees with the shared
# generator into $QV_BENCH_DIR (default /tmp/qvbench, outside the repository) when they are
# missing, warms the caches, then alternates `du -s --apparent-size` and qvscan RUNS
# times (default 7) and prints the medians, their ratio, and the scanner's memory per
# directory.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-7}
dir=${QV_BENCH_DIR:-/tmp/qvbench}
gen=${QV_GEN_TREE:-../shared/bench/gen_tree.py}
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(T1 T2)

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench --target qvscan >/dev/null
qvscan=build-bench/bench/qvscan

seed_of() { case $1 in T1) echo 1 ;; T2) echo 2 ;; *) echo 1 ;; esac; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
wall() { # prints the wall seconds of a command
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.4f", b - a}' 
}

mkdir -p "$dir"
printf '%-4s %10s %10s %7s %12s %10s\n' tree du_s qv_s ratio qv_rss_MiB B_per_dir
for tree in "${trees[@]}"; do
    path=$dir/$tree
    if [ ! -d "$path" ]; then
        echo "generating $tree in $path ..." >&2
        python3 "$gen" "$tree" "$path" --seed "$(seed_of "$tree")" >&2
    fi
    du -s --apparent-size "$path" >/dev/null 2>&1 || true # warm the caches
    "$qvscan" "$path" >/dev/null
    du_times=() qv_times=()
    for _ in $(seq "$runs"); do
        du_times+=("$(wall du -s --apparent-size "$path")")
        qv_times+=("$(wall "$qvscan" "$path")")
    done
    du_med=$(printf '%s\n' "${du_times[@]}" | median)
    qv_med=$(printf '%s\n' "${qv_times[@]}" | median)
    rss=$(/usr/bin/time -f %M "$qvscan" "$path" 2>&1 >/dev/null | tail -1)
    per_dir=$("$qvscan" "$path" | sed -n 's/.*bytes_per_dir=\([0-9.]*\).*/\1/p')
    awk -v t="$tree" -v d="$du_med" -v q="$qv_med" -v r="$rss" -v p="$per_dir" \
        'BEGIN {printf "%-4s %10.3f %10.3f %7.3f %12.1f %10s\n", t, d, q, q / d, r / 1024, p}' 
done
