#!/usr/bin/env bash
# Benchmarks of the import tool, on a build of this tree (default: build):
#   - the scan of a 200 MB export file held by the page cache (goal: at least
#     500 MB/s);
#   - the tables page of an export file with 5,000 tables as a whole CGI
#     request, against the backup tool's page (ratio).
# Usage: bench/import/run_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(readlink -m "${1:-$top/build}")
bench_build=${TMPDIR:-/tmp}/kvi-bench-build
cmake --build "$build" >/dev/null

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kvi-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cmake -DBUILD_DIR="$build" -DHOME="$scratch/home" -P "$top/tests/support/make_test_home.cmake"

cmake -S "$here" -B "$bench_build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$bench_build" >/dev/null
csv=$(mktemp)
trap 'rm -rf "$scratch" "$csv"' EXIT
KVI_BENCH_HOME=$scratch/home "$bench_build/import_bench" --benchmark_format=csv 2>/dev/null | grep '^"BM_' >"$csv"
# Columns: name, iterations, real_time, cpu_time, time_unit, bytes_per_second, ...
awk -F, '
  { gsub(/"/, "", $1); sub(/\/.*/, "", $1); t[$1] = $3; b[$1] = $6 }
  END {
    printf "scan of a 200 MB export file from the page cache: %.0f ms, %.0f MB/s (goal: at least 500)\n",
      t["BM_Scan"], b["BM_Scan"] / 1048576
    printf "tables page of 5,000 tables as a whole request: %.2f ms, backup page %.2f ms, ratio %.2f\n",
      t["BM_SelectionPage5000Tables"], t["BM_BackupPage"], t["BM_SelectionPage5000Tables"] / t["BM_BackupPage"]
  }' "$csv"
