#!/bin/sh
# What the audio import costs and whether it changes the notes, on the melody bench.
#
#   import_bench.sh BENCH_SRC WORK_DIR CONVERTER
#
# BENCH_SRC: the melody bench's folder (read-only is fine); WORK_DIR: a writable folder that
# receives a copy of it, its data and the converted inputs (about 1 GB); CONVERTER: a Release
# build of ruvo-convert. Needs the bench's Debian packages (see its README), sox with
# libsox-fmt-mp3, and /usr/bin/time.
#
# 1. Speed and memory: the bench's 600 s file as a stereo 44.1 kHz 16-bit WAV (converted as it
#    is) and as a stereo 48 kHz 24-bit FLAC (imported first), three interleaved runs each:
#    median wall time with that run's CPU time, largest peak RSS.
# 2. Notes: the dev set's 44.1 kHz WAV files as they are, and each made by sox into a 48 kHz
#    24-bit FLAC, a 192 kbit/s MP3 and a WAV with a LIST chunk before its data (which the
#    check refuses); shift-aligned onset F1 in the classic and the melody mode.
set -eu
if [ $# -ne 3 ]; then
    echo "usage: $0 BENCH_SRC WORK_DIR CONVERTER" >&2
    exit 2
fi
src=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
conv=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
py=/usr/bin/python3

if [ ! -d "$work/bench" ]; then
    cp -r "$src" "$work/bench"
    chmod -R u+w "$work/bench"
fi
cd "$work/bench"
export BENCH_DATA="$work/data"
[ -d "$work/data/dev" ] || PY=$py ./make_data.sh >/dev/null

# A WAV file with a LIST chunk between the format and the data chunk.
with_list() {
    $py - "$1" "$2" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
info = b"INFO" + b"ISFT" + struct.pack("<I", 14) + b"sound editor\0\0"
chunk = b"LIST" + struct.pack("<I", len(info)) + info
body = data[12:36] + chunk + data[36:]
open(sys.argv[2], "wb").write(b"RIFF" + struct.pack("<I", 4 + len(body)) + b"WAVE" + body)
EOF
}

echo "== speed and memory: 600 s, stereo"
long="$work/data/long/wav44100/long_00.wav"
sox "$long" -c 2 -b 16 "$work/long44k16.wav"
sox "$long" -c 2 -r 48000 -b 24 "$work/long48k24.flac"
ls -l "$work/long44k16.wav" "$work/long48k24.flac" | awk '{ printf "%-40s %8.1f MB\n", $NF, $5 / 1048576 }'
for mode in classic melody; do
    for round in 1 2 3; do
        for input in long44k16.wav long48k24.flac; do
            /usr/bin/time -f "%e %U %S %M" -o "$work/t-$mode-$input-$round" \
                "$conv" --quiet --mode "$mode" -o "$work/long.mid" "$work/$input"
        done
    done
    for input in long44k16.wav long48k24.flac; do
        cat "$work"/t-"$mode"-"$input"-* | sort -n | awk -v m="$mode" -v i="$input" '
            { wall[NR] = $1; cpu[NR] = $2 + $3; if ($4 > rss) rss = $4 }
            END { printf "%-8s %-16s wall %6.2f s (median of %d; its cpu %6.2f s)  peak RSS %5.1f MB\n",
                  m, i, wall[2], NR, cpu[2], rss / 1024 }'
    done
done

echo
echo "== notes: the dev set at 44.1 kHz, shift-aligned onset F1"
variants="$work/variants"
mkdir -p "$variants/wav" "$variants/flac" "$variants/mp3" "$variants/list"
for wav in "$work"/data/dev/wav44100/*.wav; do
    name=$(basename "$wav" .wav)
    sox "$wav" -r 48000 -b 24 "$variants/flac/$name.flac"
    sox "$wav" -C 192 "$variants/mp3/$name.mp3"
    with_list "$wav" "$variants/list/$name.wav"
done
for mode in classic melody; do
    for variant in wav flac mp3 list; do
        case $variant in
            wav) input='{wav}' ;;
            flac) input="$variants/flac/{name}.flac" ;;
            mp3) input="$variants/mp3/{name}.mp3" ;;
            list) input="$variants/list/{name}.wav" ;;
        esac
        f1=$(./run.py --data "$work/data" --set dev --rate 44100 \
                 --cmd "$conv --quiet --mode $mode -o {mid} $input" 2>/dev/null |
             awk '/^shift-aligned onset/ { for (i = 1; i <= NF; i++) if ($i == "F1") { print $(i + 1); exit } }')
        printf "%-8s %-5s F1 %s\n" "$mode" "$variant" "$f1"
    done
done
