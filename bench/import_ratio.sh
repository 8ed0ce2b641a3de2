#!/bin/sh
# What importing costs beside the analysis: the same sound converted as a 44.1 kHz 16-bit WAV
# (no import) and as a 48 kHz 24-bit FLAC (imported first), runs interleaved, medians of the
# wall and processor times, the largest peak RSS, and whether both give the same MIDI bytes
# as the reference converter, when one is given.
#
#   import_ratio.sh CONVERTER WAV FLAC [RUNS] [REFERENCE_CONVERTER]
#
# Make the two inputs from one recording with sox, e.g.
#   sox long.wav -c 2 -b 16 long44k16.wav; sox long.wav -c 2 -r 48000 -b 24 long48k24.flac
set -eu
if [ $# -lt 3 ]; then
    echo "usage: $0 CONVERTER WAV FLAC [RUNS] [REFERENCE_CONVERTER]" >&2
    exit 2
fi
conv=$1
wav=$2
flac=$3
runs=${4:-5}
ref=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run=1
while [ "$run" -le "$runs" ]; do
    for input in "$wav" "$flac"; do
        kind=${input##*.}
        /usr/bin/time -f "%e %U %S %M" -a -o "$work/$kind.times" "$conv" --quiet -o "$work/$kind.mid" "$input"
    done
    run=$((run + 1))
done
for kind in "${wav##*.}" "${flac##*.}"; do
    sort -n "$work/$kind.times" | awk -v k="$kind" '
        { wall[NR] = $1; cpu[NR] = $2 + $3; if ($4 > rss) rss = $4 }
        END { m = int((NR + 1) / 2); printf "%-5s wall %6.2f s (median of %d)  cpu of that run %6.2f s  peak RSS %6.1f MB\n",
              k, wall[m], NR, cpu[m], rss / 1024 }'
    awk '{ print $2 + $3 }' "$work/$kind.times" | sort -n |
        awk -v k="$kind" '{ c[NR] = $1 } END { printf "%-5s cpu median %6.2f s\n", k, c[int((NR + 1) / 2)] }'
done
wallWav=$(sort -n "$work/${wav##*.}.times" | awk '{ w[NR] = $1 } END { print w[int((NR + 1) / 2)] }')
wallFlac=$(sort -n "$work/${flac##*.}.times" | awk '{ w[NR] = $1 } END { print w[int((NR + 1) / 2)] }')
awk -v a="$wallFlac" -v b="$wallWav" 'BEGIN { printf "FLAC / WAV wall: %.2f\n", a / b }'
if [ -n "$ref" ]; then
    for input in "$wav" "$flac"; do
        kind=${input##*.}
        "$ref" --quiet -o "$work/$kind.ref.mid" "$input"
        if cmp -s "$work/$kind.mid" "$work/$kind.ref.mid"; then
            echo "$kind: the same MIDI bytes as the reference"
        else
            echo "$kind: MIDI DIFFERS from the reference"
        fi
    done
fi
