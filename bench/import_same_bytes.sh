#!/bin/bash
# Whether an import change keeps every byte: the WAV files of the given folders are copied by
# sox into FLAC files of several layouts (48 and 96 kHz 24-bit, 44.1 and 32 kHz 16-bit, 16 kHz
# mono, 22.05 kHz 8-bit), Ogg Vorbis and MP3, one layout per file in turn; each copy is converted
# by both converters in the classic and the melody mode, and the MIDI files and the imported
# work files (--keep-work-files) are compared byte for byte.
#
#   import_same_bytes.sh CONVERTER REFERENCE_CONVERTER FOLDER...
#
# e.g. import_same_bytes.sh build/cli/ruvo-convert main/build/cli/ruvo-convert \
#          "$BENCH_DATA"/dev/wav44100 "$BENCH_DATA"/sing_dev/wav22050
set -eu
if [ $# -lt 3 ]; then
    echo "usage: $0 CONVERTER REFERENCE_CONVERTER FOLDER..." >&2
    exit 2
fi
new=$1
ref=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

n=0
for folder in "$@"; do
    for wav in "$folder"/*.wav; do
        name=$(basename "$(dirname "$wav")")_$(basename "$wav" .wav)
        n=$((n + 1))
        case $((n % 6)) in
            0) sox -q "$wav" -c 2 -r 48000 -b 24 "$work/${name}_48k24s.flac" ;;
            1) sox -q "$wav" -r 48000 -b 24 "$work/${name}_48k24m.flac" ;;
            2) sox -q "$wav" -c 2 -r 96000 -b 24 "$work/${name}_96k24s.flac" ;;
            3) sox -q "$wav" -c 2 -b 16 "$work/${name}_16s.flac"
               sox -q "$wav" -c 2 -r 32000 -b 16 "$work/${name}_32k16s.flac" ;;
            4) sox -q "$wav" -r 16000 -b 16 "$work/${name}_16k16m.flac"
               sox -q "$wav" -c 2 -r 48000 "$work/${name}_48k.ogg" ;;
            5) sox -q "$wav" -c 2 -r 22050 -b 8 "$work/${name}_22k8s.flac"
               sox -q "$wav" -c 2 -r 48000 "$work/${name}_48k.mp3" ;;
        esac
    done
done

same=0
differ=0
imports=0
# The work files a --keep-work-files run printed, the imported one first.
drop() { while read -r kept; do rm -f -- "$kept"; done < "$1"; }
for input in "$work"/*.flac "$work"/*.ogg "$work"/*.mp3; do
    for mode in classic melody; do
        "$new" --quiet --mode "$mode" --keep-work-files -o "$work/new.mid" "$input" > "$work/new.kept"
        "$ref" --quiet --mode "$mode" --keep-work-files -o "$work/ref.mid" "$input" > "$work/ref.kept"
        if [ "$mode" = classic ]; then
            if cmp -s "$(head -n 1 "$work/new.kept")" "$(head -n 1 "$work/ref.kept")"; then
                imports=$((imports + 1))
            else
                echo "imported WAV differs: $(basename "$input")"
                differ=$((differ + 1))
            fi
        fi
        drop "$work/new.kept"
        drop "$work/ref.kept"
        if cmp -s "$work/new.mid" "$work/ref.mid"; then
            same=$((same + 1))
        else
            echo "MIDI differs: $mode $(basename "$input")"
            differ=$((differ + 1))
        fi
    done
done
echo "MIDI the same: $same; imported WAV the same: $imports; differing: $differ"
[ "$differ" -eq 0 ]
