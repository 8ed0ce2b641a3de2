#!/usr/bin/env bash
# bench/speed_ratio.sh FILE [ROUNDS] [CONVERTER...]: times each converter on FILE in the classic
# and the melody mode, and `aubionotes -i FILE` in the same rounds, interleaved (the machine may
# be shared), and prints the median wall time of each, its ratio to aubionotes' median and the
# largest peak RSS. Optional: RUVO_BENCH_IMPORT=FLAC also times each converter on FLAC (the same
# sound in another format) and prints its median over FILE's. A measurement, not a test.
# Needs aubio-tools and /usr/bin/time.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
file=${1:?usage: speed_ratio.sh FILE [ROUNDS] [CONVERTER...]}
rounds=${2:-5}
shift $(( $# >= 2 ? 2 : 1 ))
converters=("$@")
(( ${#converters[@]} )) || converters=("$repo/build/cli/ruvo-convert")
flac=${RUVO_BENCH_IMPORT:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run LABEL COMMAND...: one timed run, appended to $work/LABEL as "seconds kilobytes".
run() {
    local label=$1
    shift
    /usr/bin/time -f '%e %M' -o "$work/last" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    cat "$work/last" >>"$work/$label"
}

for ((r = 1; r <= rounds; ++r)); do
    run aubionotes aubionotes -i "$file"
    for i in "${!converters[@]}"; do
        c=${converters[$i]}
        TMPDIR=$work run "c$i.classic" "$c" --quiet -o "$work/out.mid" "$file"
        TMPDIR=$work run "c$i.melody" "$c" --quiet --mode melody -o "$work/out.mid" "$file"
        [[ -n $flac ]] && TMPDIR=$work run "c$i.import" "$c" --quiet -o "$work/out.mid" "$flac"
    done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
base=$(cut -d' ' -f1 "$work/aubionotes" | median)
printf '%-48s %8s %8s %10s\n' "program (median of $rounds)" "wall s" "x aubio" "peak MB"
printf '%-48s %8.2f %8s %10.1f\n' "aubionotes -i" "$base" "1.00" \
    "$(cut -d' ' -f2 "$work/aubionotes" | sort -n | tail -1 | awk '{ print $1 / 1024 }')"
for i in "${!converters[@]}"; do
    for mode in classic melody import; do
        [[ -s $work/c$i.$mode ]] || continue
        t=$(cut -d' ' -f1 "$work/c$i.$mode" | median)
        m=$(cut -d' ' -f2 "$work/c$i.$mode" | sort -n | tail -1)
        printf '%-48s %8.2f %8.2f %10.1f\n' "$(basename "${converters[$i]}") $mode" "$t" \
            "$(awk -v b="$base" -v t="$t" 'BEGIN { print b / t }')" "$(awk -v m="$m" 'BEGIN { print m / 1024 }')"
    done
    if [[ -s $work/c$i.import ]]; then
        awk -v a="$(cut -d' ' -f1 "$work/c$i.import" | median)" -v w="$(cut -d' ' -f1 "$work/c$i.classic" | median)" \
            'BEGIN { printf "  import / WAV (classic): %.2f\n", a / w }'
    fi
done
