#!/usr/bin/env bash
# Benchmarks of the export tool, on a build of this tree (default: build):
#   - the first page and the table option page as whole CGI requests, against
#     the backup tool's page (ratio);
#   - a real full export of the demo instance: when its first line arrives,
#     against the whole run;
#   - how soon a line the export utility writes reaches the client, straight
#     from the program and through Apache httpd (goal: under 50 ms).
# Usage: bench/export/run_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(readlink -m "${1:-$top/build}")
cmake --build "$build" >/dev/null

# Apache runs the programs as the web user, who must reach the home.
scratch=$(mktemp -d /tmp/kve-bench.XXXXXX)
chmod 755 "$scratch"
apache_pid=
cleanup() {
    if [[ -n $apache_pid ]]; then
        kill -TERM "$apache_pid" 2>/dev/null || true
        wait "$apache_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

home=$scratch/home
cmake -DBUILD_DIR="$build" -DHOME="$home" -P "$top/tests/support/make_test_home.cmake"

port=
if [[ -x /usr/sbin/apache2 ]]; then
    port=$(node -e 'const s = require("net").createServer().listen(0, "127.0.0.1", () => { console.log(s.address().port); s.close(); })')
    config=$("$top/content/apache/apache-setup" "$home" "$scratch/run" 127.0.0.1 "$port")
    /usr/sbin/apache2 -f "$config" -DFOREGROUND &
    apache_pid=$!
else
    echo "Apache httpd is not installed: the figures through the server are left out"
fi

KVE_BENCH_HOME=$home KVE_BENCH_PORT=$port KVE_BENCH_UTILITY=$here/stamping_utility.sh \
    node "$here/export_bench.mjs"
