#!/bin/sh
# Melody mode on the melody transcription bench: accuracy on the dev set (and on the held-out
# set of val.json beside this script), then speed and peak memory on the 600 s file, in one
# session with tuned aubionotes for comparison.
#
#   run_bench.sh BENCH_SRC WORK_DIR CONVERTER
#
# BENCH_SRC: the bench's folder (read-only is fine); WORK_DIR: a writable folder that receives
# a copy of the bench and its data (about 130 MB); CONVERTER: a Release build of ruvo-convert.
# Needs the bench's Debian packages (see its README) and /usr/bin/time.
set -eu
if [ $# -ne 3 ]; then
    echo "usage: $0 BENCH_SRC WORK_DIR CONVERTER" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
conv=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")

if [ ! -d "$work/bench" ]; then
    cp -r "$src" "$work/bench"
    chmod -R u+w "$work/bench"
fi
cp "$here/val.json" "$work/bench/sets/val.json"
cd "$work/bench"
export BENCH_DATA="$work/data"
if [ ! -d "$work/data/dev" ]; then
    ./make_data.sh
fi
if [ ! -d "$work/data/val" ]; then
    python3 gen_melodies.py --config sets/val.json --data "$work/data"
    python3 synth.py --set val --data "$work/data"
fi

melody="$conv --quiet --mode melody -o {mid} {wav}"
aubio='{py} adapters/aubionotes_mid.py {wav} {mid} -r 22050 -B 256 -H 128 -M 120 -d 5 -s -35'

echo "== dev, 22050 Hz: $melody"
./run.py --data "$work/data" --set dev --rate 22050 --cmd "$melody" 2>/dev/null
echo
echo "== held-out val (seeds 5000-5019), 22050 Hz"
./run.py --data "$work/data" --set val --rate 22050 --cmd "$melody" 2>/dev/null
echo
echo "== long (600 s), melody mode, median of 3"
./run.py --data "$work/data" --set long --rate 22050 --repeat 3 --cmd "$melody" 2>/dev/null | tail -6
echo
echo "== long (600 s), tuned aubionotes, median of 3"
./run.py --data "$work/data" --set long --rate 22050 --repeat 3 --cmd "$aubio" 2>/dev/null | tail -6
echo
echo "== long (600 s), melody mode, peak memory"
/usr/bin/time -v "$conv" --quiet --mode melody -o "$work/long.mid" "$work/data/long/wav22050/long_00.wav" 2>&1 |
    grep -E "Maximum resident|Elapsed"
