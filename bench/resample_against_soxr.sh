#!/bin/bash
# Converting ten minutes of stereo from 96 to 44.1 kHz at very high quality
# on one core: processing_bench --raw against libsoxr's own example
# program 3-options-input-fn (compiled here from the libsoxr-dev examples),
# both reading interleaved doubles from a file and writing to /dev/null.
#   bench/resample_against_soxr.sh [PROCESSING_BENCH] [MINUTES] [DIR]
set -euo pipefail
bench=${1:-$(dirname "$0")/../build/bin/processing_bench}
minutes=${2:-10}
dir=$(mktemp -d "${3:-/tmp}/zqsoxr-XXXXXX")
trap 'rm -rf "$dir"' EXIT
examples=/usr/share/doc/libsoxr-dev/examples
cc -O2 -o "$dir/soxr-example" "$examples/3-options-input-fn.c" -I"$examples" -lsoxr -lm
sox -q -n -r 96000 -c 2 -e floating-point -b 64 -t f64 "$dir/in.f64" synth $((minutes * 60)) sine 1000 vol 0.5
cat "$dir/in.f64" >/dev/null # in the page cache for both
time_of() {
    local start end
    start=$(date +%s.%N)
    "$@" <"$dir/in.f64" >/dev/null
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}
# Arguments of the example: rates, channels, in and out types (1: doubles),
# recipe 4 (very high quality), no flags, default band edges and phase, one thread.
theirs=$(time_of "$dir/soxr-example" 96000 44100 2 1 1 4 0 0 0 -1 0)
ours=$(time_of "$bench" --raw 96000 44100 2)
echo "$minutes min stereo 96 -> 44.1 kHz, one core: processing_bench ${ours} s, libsoxr's example ${theirs} s"
