#!/usr/bin/env bash
# Benchmarks of the export tool, on a build of this tree (default: build):
#   - the first page and the table option page as whole CGI requests, against
#     the backup tool's page (ratio);
#   - a real full export of the demo instance: when its first line arrives,
#     against the whole run;
#   - how soon a line the export utility writes reaches the client, straight
#     from the program and through Apache httpd (goal: under 50 ms).
# bench/run.sh installs the home and serves it with Apache httpd.
# Usage: bench/export/run_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(readlink -m "${1:-$here/../../build}")
cmake --build "$build" >/dev/null
KVE_BENCH_UTILITY=$here/stamping_utility.sh exec "$here/../run.sh" "$here/export_bench.mjs" "$build"
