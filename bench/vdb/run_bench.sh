#!/usr/bin/env bash
# Builds and runs the instance engine benchmarks and prints the figures:
#   - a process that opens the instance, connects and asks the status, against
#     one that only starts and exits;
#   - dbdump and dbload rows per second on the 100,000-row table, against the
#     sqlite3 shell's .dump and .read of the same rows (goal: at most 1.5 times
#     their time).
# Usage: bench/vdb/run_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-/tmp/vdb-bench-build}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" >/dev/null
csv=$(mktemp)
trap 'rm -f "$csv"' EXIT
"$build/vdb_bench" --benchmark_format=csv 2>/dev/null | grep '^"BM_' >"$csv"
awk -F, '
  { gsub(/"/, "", $1); sub(/\/.*/, "", $1); t[$1] = $3 }
  END {
    printf "process: start only %.2f ms, open+connect+status %.2f ms, ratio %.2f\n",
      t["BM_StartOnly"], t["BM_StatusProbe"], t["BM_StatusProbe"] / t["BM_StartOnly"]
    printf "export of 100000 rows: dbdump %.0f ms (%.0f rows/s), sqlite3 .dump %.0f ms (%.0f rows/s), ratio %.2f\n",
      t["BM_Dbdump"], 1e8 / t["BM_Dbdump"], t["BM_SqliteDump"], 1e8 / t["BM_SqliteDump"], t["BM_Dbdump"] / t["BM_SqliteDump"]
    printf "import of 100000 rows: dbload %.0f ms (%.0f rows/s), sqlite3 .read %.0f ms (%.0f rows/s), ratio %.2f\n",
      t["BM_Dbload"], 1e8 / t["BM_Dbload"], t["BM_SqliteRead"], 1e8 / t["BM_SqliteRead"], t["BM_Dbload"] / t["BM_SqliteRead"]
  }' "$csv"
