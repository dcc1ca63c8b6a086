#!/bin/sh
# Stands in for the export utility when the benchmark times the page's
# streaming: each line carries the moment it was written (nanoseconds since
# the epoch), so the client can tell how long it took to arrive.
for i in 1 2 3 4 5; do
    echo "line $i written at $(date +%s%N)" >&2
    sleep 0.1
done
