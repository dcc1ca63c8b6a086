#!/usr/bin/env bash
# Runs the browser tests against a fresh installation of one build.
#
#   run.sh BUILD_DIR OUTPUT_DIR [TEST_FILE...]
#
# With test files (names in this folder, sessions.test.mjs), only those run.
# The installation gets a scratch directory of its own under /tmp: Apache runs
# the programs as nobody, who must reach every directory above them, and who
# must own the parts they write without sharing them with other tests.
# Exits 77 (skipped) when the machine lacks what the tests need, except on CI,
# where that is a failure.
set -euo pipefail

HERE=$(dirname "$(readlink -f "$0")")
BUILD_DIR=$(readlink -m "$1")
OUTPUT_DIR=$(readlink -m "$2")
shift 2
TEST_FILES=("$@")

cannot_run() {
    echo "web tests cannot run: $*"
    [[ -n ${CI:-} ]] && exit 1
    exit 77
}

check_machine() {
    [[ -x /usr/sbin/apache2 ]] || cannot_run "Apache httpd is not installed (Debian package apache2)"
    [[ -x /usr/bin/chromium ]] || cannot_run "Chromium is not installed (Debian package chromium)"
    command -v lynx >/dev/null || cannot_run "lynx is not installed (Debian package lynx)"
    command -v node >/dev/null || cannot_run "node is not installed"
    [[ -d $HERE/node_modules/playwright-core ]] || cannot_run "playwright-core is missing: run 'npm ci' in $HERE"
}

# The same installation the program tests get: the build with the demo instance.
install_home() {
    cmake -DBUILD_DIR="$BUILD_DIR" -DHOME="$1" -P "$HERE/../support/make_test_home.cmake"
}

check_machine
SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/kv-web.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT
chmod 755 "$SCRATCH"
install_home "$SCRATCH/home"
mkdir -p "$OUTPUT_DIR"

export KV_WEB_HOME=$SCRATCH/home KV_WEB_SCRATCH=$SCRATCH KV_WEB_OUT=$OUTPUT_DIR
KV_APACHE_SETUP=$(readlink -f "$HERE/../../content/apache/apache-setup")
export KV_APACHE_SETUP
cd "$HERE"
((${#TEST_FILES[@]})) || TEST_FILES=(./*.test.mjs)
# One file at a time: the files share one home and its instance.
node --test --test-concurrency=1 "${TEST_FILES[@]}"
