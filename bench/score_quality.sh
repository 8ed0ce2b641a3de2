#!/usr/bin/env bash
# bench/score_quality.sh [RUVO_CONVERT] [SET...]: turns every melody of the score bench's sets
# (default dev and sing_dev) into a score with the tempo found (ruvo-convert --mode melody
# --score, MusicXML) and prints the bench's figures per file and their means: onset F1 in
# beats, tempo within 4 %, note lengths, key signature, bar position. A measurement, not a
# test: nothing is checked. The data come from $BENCH_DATA (the bench's make_data.sh); the
# scorer from $BENCH_SCORE, by default the score folder of the shared bench beside the repository.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
convert=${1:-$repo/build/cli/ruvo-convert}
shift || true
sets=("$@")
[[ ${#sets[@]} -gt 0 ]] || sets=(dev sing_dev)
scorer=${BENCH_SCORE:-$repo/../shared/bench/score}/score_eval.py
[[ -x $convert ]] || { echo "no converter at $convert (build Release first)"; exit 2; }
[[ -f $scorer ]] || { echo "no scorer at $scorer (set BENCH_SCORE)"; exit 2; }
[[ -n ${BENCH_DATA:-} ]] || { echo "set BENCH_DATA to the bench's data folder"; exit 2; }

python=/usr/bin/python3  # Debian's python, which has python3-mido and python3-numpy
[[ -x $python ]] || python=python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for set in "${sets[@]}"; do
    mkdir -p "$work/$set"
    for wav in "$BENCH_DATA/$set"/wav22050/*.wav; do
        name=$(basename "$wav" .wav)
        "$convert" --quiet --mode melody --score -o "$work/$set/$name.musicxml" "$wav" ||
            echo "$name: not converted (scored 0)"
    done
    echo "== $set"
    "$python" "$scorer" --set "$set" --est-dir "$work/$set" --ext musicxml
done
