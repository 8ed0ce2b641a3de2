#!/usr/bin/env bash
# Runs the JACK MIDI latency bench on a private dummy server (started and stopped here) and
# keeps its figures in results.txt. Usage: bench/jack/run.sh [BUILD_DIR] [NOTES]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
build=${1:-build}
cmake --build "$build" -j2 --target ruvo_jack_latency >/dev/null
export JACK_DEFAULT_SERVER="ruvo_bench_$$"
jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 22050 -p 256 >/dev/null 2>&1 &
server=$!
trap 'kill "$server"; wait "$server" || true' EXIT
for _ in $(seq 100); do jack_lsp >/dev/null 2>&1 && break; sleep 0.05; done
{
    date -u '+%F %T UTC'
    "$build/tests/posix/ruvo_jack_latency" "${2:-300}"
} | tee bench/jack/results.txt
