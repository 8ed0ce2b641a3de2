#!/bin/sh
# Chords mode on the shared bench: note accuracy on the several-voice set (poly_dev) and the
# one-voice set (dev) at 22050 Hz, then time and peak memory on the 600 s file with one
# thread and with the default count.
#   BENCH_DATA=/path/to/data bench/chords/run.sh [BUILD_DIR]
# BENCH_DIR names the bench's scripts (default: ../shared/bench beside the repository).
set -eu
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
bench=${BENCH_DIR:-$here/../shared/bench}
convert="$build/cli/ruvo-convert"
: "${BENCH_DATA:?set BENCH_DATA to the folder of the generated sets}"
export BENCH_DATA
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

for set in poly_dev dev; do
    echo "== $set"
    (cd "$bench" && /usr/bin/python3 run.py --set "$set" --rate 22050 \
        --cmd "$convert --mode chords -o {mid} {wav}" --json "$out/$set.json" 2>/dev/null) |
        awk '/^(pd|dev)_/ {print $1, $2, "shift-aligned F1", $16, "with offsets", $18} /^shift-aligned/' | awk '!seen[$0]++'
done

long=$(ls "$BENCH_DATA"/long/wav22050/*.wav | head -n 1)
seconds=$(/usr/bin/python3 -c "import wave,sys; w=wave.open(sys.argv[1]); print(w.getnframes()/w.getframerate())" "$long")
for workers in 1 ""; do
    RUVO_WORKERS=$workers /usr/bin/time -f "%e %U %S %M" -o "$out/time" "$convert" --mode chords -q -o "$out/long.mid" "$long"
    read -r wall user sys rss < "$out/time"
    /usr/bin/python3 -c "
import sys; s, wall, cpu, rss = float(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3]) + float(sys.argv[4]), int(sys.argv[5])
print('long (%.0f s), threads %s: wall %.2f s (%.0fx real time), CPU %.2f s (%.0fx), peak memory %.1f MB' % (s, sys.argv[6] or 'default', wall, s / wall, cpu, s / cpu, rss / 1024))
" "$seconds" "$wall" "$user" "$sys" "$rss" "$workers"
done
