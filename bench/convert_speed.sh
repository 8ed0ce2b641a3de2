#!/usr/bin/env bash
# bench/convert_speed.sh [RUVO_CONVERT] [SECONDS]: converts a synthesized melody (default 600 s,
# 44100 samples per second, stereo, 16-bit) with ruvo-convert, in the classic and the melody
# mode, and reports wall and CPU time, audio seconds per wall second, peak memory (RSS) and
# the peak size of the work files. A measurement, not a test: nothing is checked.
# Needs sox and /usr/bin/time (Debian packages sox and time).
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
convert=${1:-$repo/build/cli/ruvo-convert}
seconds=${2:-600}
[[ -x $convert ]] || { echo "no converter at $convert (build Release first: ./scripts/run)"; exit 2; }
for tool in sox /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (apt-get install sox time)"; exit 2; }
done

python=/usr/bin/python3  # Debian's python, which has python3-mido
[[ -x $python ]] || python=python3
work=$(mktemp -d)
poller=""
cleanup() {
    [[ -n $poller ]] && kill "$poller" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A four-second phrase of eight plucked notes, repeated to the wanted length.
echo "synthesizing ${seconds} s of melody (44100 Hz, stereo, 16-bit)"
notes=(440 493.88 554.37 587.33 659.26 587.33 554.37 493.88)
parts=()
for i in "${!notes[@]}"; do
    sox -n -r 44100 -c 2 -b 16 -e signed-integer "$work/n$i.wav" synth 0.5 pluck "${notes[$i]}" vol 0.6
    parts+=("$work/n$i.wav")
done
sox "${parts[@]}" "$work/phrase.wav"
repeats=$(( (seconds + 3) / 4 - 1 ))
sox "$work/phrase.wav" "$work/long.wav" repeat "$repeats" trim 0 "$seconds"
audio=$(soxi -D "$work/long.wav")
echo "input: $(du -h "$work/long.wav" | cut -f1), ${audio} s"

# Size in bytes of the folder, polled until the marker disappears; the largest seen is kept.
poll_peak() {
    local dir=$1 out=$2 peak=0 size
    while [[ -e $out.running ]]; do
        size=$(du -sb "$dir" 2>/dev/null | cut -f1)
        (( size > peak )) && peak=$size && echo "$peak" >"$out"
        sleep 0.05
    done
}

run_one() {
    local label=$1
    shift
    local tmp="$work/tmp-$label"
    mkdir -p "$tmp"
    echo 0 >"$work/peak-$label"
    touch "$work/peak-$label.running"
    poll_peak "$tmp" "$work/peak-$label" &
    poller=$!
    TMPDIR="$tmp" /usr/bin/time -v -o "$work/time-$label" \
        "$convert" --quiet "$@" -o "$work/$label.mid" "$work/long.wav"
    rm -f "$work/peak-$label.running"
    wait "$poller" 2>/dev/null || true
    poller=""

    local wall user sys rss peak notes
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/time-$label" |
           awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
    user=$(awk -F': ' '/User time/ {print $2}' "$work/time-$label")
    sys=$(awk -F': ' '/System time/ {print $2}' "$work/time-$label")
    rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time-$label")
    peak=$(cat "$work/peak-$label")
    notes=$("$python" -c 'import sys, mido
print(sum(1 for t in mido.MidiFile(sys.argv[1]).tracks for m in t if m.type == "note_on" and m.velocity))' \
            "$work/$label.mid" 2>/dev/null || echo "?")
    awk -v l="$label" -v w="$wall" -v u="$user" -v s="$sys" -v r="$rss" -v p="$peak" -v a="$audio" -v n="$notes" 'BEGIN {
        printf "%-8s wall %7.2f s  cpu %7.2f s (user %.2f, sys %.2f)  %6.0f x real time  peak RSS %6.1f MB  peak work files %7.1f MB  notes %s\n",
               l, w, u + s, u, s, a / w, r / 1024, p / 1048576, n }'
}

run_one classic
run_one melody --mode melody
