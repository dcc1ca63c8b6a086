#!/usr/bin/env bash
# Runs a benchmark script through Apache, on a build of this tree (default:
# build):
#   bench/run.sh SCRIPT.mjs [BUILD_DIR]
# Builds the benchmark programs (into build-bench), installs a home with the
# demo instance into a scratch directory under /tmp that the web user can
# reach, serves it with an Apache httpd of its own on a free loopback port,
# runs the node script with KV_BENCH_HOME, KV_BENCH_RUN (the server's run
# directory), KV_BENCH_SCRATCH, KV_BENCH_PORT and KV_BENCH_BUILD (the
# benchmark programs) set, and stops the server and removes the scratch
# directory at the end, however the run ends. ./kv bench runs
# bench/web/table.mjs, ./kv bench --load bench/web/load.mjs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
(($# >= 1 && $# <= 2)) || { echo "usage: bench/run.sh SCRIPT.mjs [BUILD_DIR]" >&2; exit 2; }
script=$(readlink -m "$1")
build=$(readlink -m "${2:-$top/build}")
bench_build=$top/build-bench
APACHE=/usr/sbin/apache2
START_SECONDS=10

[[ -f $script ]] || { echo "bench: no script $script" >&2; exit 1; }
[[ -f $build/CMakeCache.txt ]] || { echo "bench: no build in $build" >&2; exit 1; }

cmake -S "$here" -B "$bench_build" -G Ninja >/dev/null
cmake --build "$bench_build" -- --quiet

scratch=$(mktemp -d /tmp/kv-bench.XXXXXX)
apache_pid=
cleanup() {
    if [[ -n $apache_pid ]]; then
        kill -TERM "$apache_pid" 2>/dev/null || true
        wait "$apache_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# Apache runs the programs as the web user, who must reach the home.
chmod 755 "$scratch"
home=$scratch/home

cmake --install "$build" --prefix "$home" >/dev/null
"$home/bin/vdbadm" --home "$home" create PROD --demo >/dev/null
# The trivial page beside the tools, under a name of each kind.
for name in kvbench-page nph-kvbench-page; do
    install -m 755 "$bench_build/trivial_page" "$home/kv/bin/$name"
done

free_port() {
    node -e 'const s = require("net").createServer().listen(0, "127.0.0.1", () => { console.log(s.address().port); s.close(); })'
}

answers() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Starts Apache on a free port; another program may take the port before
# Apache binds it, so a failed start is tried again on a new one.
start_apache() {
    local attempt config waited
    for attempt in 1 2 3; do
        port=$(free_port)
        config=$("$top/content/apache/apache-setup" "$home" "$scratch/run" 127.0.0.1 "$port")
        "$APACHE" -f "$config" -DFOREGROUND >"$scratch/apache.out" 2>&1 &
        apache_pid=$!
        for ((waited = 0; waited < START_SECONDS * 20; waited++)); do
            kill -0 "$apache_pid" 2>/dev/null || break
            answers "$port" && return 0
            sleep 0.05
        done
        kill -TERM "$apache_pid" 2>/dev/null || true
        wait "$apache_pid" 2>/dev/null || true
        apache_pid=
        grep -q 'Address already in use' "$scratch/apache.out" "$scratch/run/error.log" 2>/dev/null || break
    done
    echo "bench: Apache did not start:" >&2
    cat "$scratch/apache.out" "$scratch/run/error.log" >&2 2>/dev/null || true
    return 1
}
start_apache

KV_BENCH_HOME=$home KV_BENCH_RUN=$scratch/run KV_BENCH_SCRATCH=$scratch KV_BENCH_PORT=$port \
    KV_BENCH_BUILD=$bench_build node "$script"
