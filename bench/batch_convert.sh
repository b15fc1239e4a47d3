#!/bin/bash
# zqconvert's batch: 200 stereo files of ten seconds (44.1 kHz, 16-bit,
# made by sox) converted into a folder as FLAC and, with a new rate, as
# 48 kHz WAV: wall time on both cores, and on one (the same run under
# taskset -c 0).
#   bench/batch_convert.sh [ZQCONVERT] [FILES] [DIR]
set -euo pipefail
zqconvert=${1:-$(dirname "$0")/../build/bin/zqconvert}
count=${2:-200}
dir=$(mktemp -d "${3:-/tmp}/zqbatch-XXXXXX")
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/in" "$dir/out"
for i in $(seq 1 "$count"); do
    sox -q -n -r 44100 -c 2 -b 16 "$dir/in/$i.wav" synth 10 sine $((200 + i)) vol 0.5
done
cat "$dir"/in/*.wav >/dev/null # in the page cache for every run
time_of() {
    local start end
    rm -f "$dir"/out/*
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}
for job in "flac16" "--rate 48000 wav16"; do
    # shellcheck disable=SC2086 # the options split on purpose
    both=$(time_of "$zqconvert" $job -o "$dir/out" "$dir"/in/*.wav)
    # shellcheck disable=SC2086
    one=$(time_of taskset -c 0 "$zqconvert" $job -o "$dir/out" "$dir"/in/*.wav)
    echo "$count files of 10 s, $job: both cores ${both} s, one core ${one} s" \
        "($(awk -v a="$one" -v b="$both" 'BEGIN { printf "%.2f", a / b }')x)"
done
