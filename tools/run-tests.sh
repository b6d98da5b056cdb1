#!/bin/bash
# Runs the tests of all three build trees and sums them up. The Wine tests
# share one virtual display; the prefix is made before they start.
set -u
build=${1:-build}
status=0
run() {
    local tree=$1
    echo "=== $tree ==="
    (cd "$build/$tree" && ctest --output-on-failure -j 2 --timeout 900) || status=1
}
run i686
run native
if [ -z "${DISPLAY:-}" ]; then
    xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "cd '$build/x64' && ctest --output-on-failure -j 2 --timeout 900" || status=1
else
    run x64
fi
WINEPREFIX="$PWD/$build/x64/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
exit $status
