#!/bin/bash
# Opening a one-hour stereo 16-bit WAV with zqinfo while the page cache is
# full of other files (8 GB by default), five times with a pause between
# (memory the program gave back turns cold again meanwhile): each wall time,
# the median and the worst.
#   bench/open_times.sh [ZQINFO] [GB-OF-OTHER-FILES] [DIR]
set -euo pipefail
zqinfo=${1:-$(dirname "$0")/../build/bin/zqinfo}
gigabytes=${2:-8}
dir=$(mktemp -d "${3:-/tmp}/zqopentimes-XXXXXX")
trap 'rm -rf "$dir"' EXIT
command -v sox >/dev/null || { echo "sox is needed"; exit 1; }
sox -q -n -r 44100 -c 2 -b 16 "$dir/hour.wav" synth 3600 sine 440 vol 0.5
for i in $(seq 1 "$gigabytes"); do
    head -c 1073741824 /dev/urandom >"$dir/other$i"
done
sync # the files written; what follows only reads them
cat "$dir"/other* "$dir/hour.wav" >/dev/null # all of it in the page cache
times=()
for run in 1 2 3 4 5; do
    sleep 8
    start=$(date +%s.%N)
    "$zqinfo" "$dir/hour.wav" >/dev/null
    end=$(date +%s.%N)
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')")
    printf 'run %d: %.2f s\n' "$run" "${times[-1]}"
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
printf 'median %.2f s, worst %.2f s\n' "$(sed -n 3p <<<"$sorted")" "$(tail -1 <<<"$sorted")"
