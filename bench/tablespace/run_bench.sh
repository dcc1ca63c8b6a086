#!/usr/bin/env bash
# Benchmarks of the tablespace tool, on a build of this tree (default: build):
# the usage chart picture and the usage page as whole CGI requests, against
# the backup tool's page (goal: the chart costs at most 1.3 times that page).
# Usage: bench/tablespace/run_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(readlink -m "${1:-$top/build}")
cmake --build "$build" >/dev/null

scratch=$(mktemp -d /tmp/kvx-bench.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
home=$scratch/home
cmake -DBUILD_DIR="$build" -DHOME="$home" -P "$top/tests/support/make_test_home.cmake"

KVX_BENCH_HOME=$home KVX_BENCH_RUNS=${2:-200} node "$here/tablespace_bench.mjs"
