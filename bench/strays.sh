#!/usr/bin/env bash
# Kills cueprune at random moments while it rewrites a folder of sheets, counts the hidden
# temporaries left behind, then runs it once more and counts again. Measures, asserts nothing.
# Usage: bench/strays.sh [ROUNDS] [FOLDER_TO_WORK_IN] [FAULTS]   (built by scripts/test first)
# FAULTS=tmpfile imitates a file system without unnamed files.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-100}
base=${2:-/tmp}
faults=${3:-}
cueprune=$PWD/build/src/cueprune/cueprune
preload=$(mktemp -d)
cp build/tests/libfault_injection.so "$preload/"
work=$(mktemp -d -p "$base")
trap 'rm -rf "$work" "$preload"' EXIT

sheet=$'FILE "a.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 00 03:10:20\n    INDEX 01 03:12:20\n'
left=0
for ((round = 0; round < rounds; round++)); do
    rm -rf "${work:?}/lib" && mkdir "$work/lib"
    for i in $(seq 1 300); do printf '%s' "$sheet" >"$work/lib/$i.cue"; done
    LD_PRELOAD=$preload/libfault_injection.so FAULTS=$faults "$cueprune" -q -j 16 "$work/lib" \
        >/dev/null 2>&1 &
    sleep "0.0$((RANDOM % 60 + 10))"
    kill -9 $! 2>/dev/null || true
    wait $! 2>/dev/null || true
    left=$((left + $(find "$work/lib" -name '.cueprune-*' | wc -l)))
    "$cueprune" -q "$work/lib" >/dev/null 2>&1 || true
    after=$(find "$work/lib" -name '.cueprune-*' | wc -l)
    [ "$after" -eq 0 ] || echo "round $round: $after left after the second run"
done
echo "$(stat -f -c %T "$work"): $rounds kills left $left temporaries; the next runs left none unless said above"
