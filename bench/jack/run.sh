#!/usr/bin/env bash
# Runs the JACK MIDI latency bench (it starts and stops its own dummy server) and keeps its
# figures in results.txt. Usage: bench/jack/run.sh [BUILD_DIR] [NOTES]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
build=${1:-build}
cmake --build "$build" -j2 --target ruvo_jack_latency >/dev/null
{
    date -u '+%F %T UTC'
    "$build/tests/posix/ruvo_jack_latency" "${2:-300}"
} | tee bench/jack/results.txt
