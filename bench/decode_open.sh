#!/bin/bash
# Opening an hour of compressed stereo in the real program: FLAC, Opus and
# MP3 made by the formats' own encoders from one sox tone sweep, each opened
# offscreen until its window is complete (the decode into the temporary
# float file included), with RssAnon sampled through the open and VmHWM at
# its end; beside each, the format's own decoder writing the same stream to
# /dev/null, for scale.
#   bench/decode_open.sh [ZQAUDIO] [MINUTES] [DIR]
set -euo pipefail
app=${1:-$(dirname "$0")/../build/bin/zqaudio}
minutes=${2:-60}
dir=$(mktemp -d "${3:-/tmp}/zqdecodeopen-XXXXXX")
trap 'rm -rf "$dir"' EXIT
for tool in sox flac opusenc opusdec lame; do
    command -v "$tool" >/dev/null || { echo "$tool is needed"; exit 1; }
done
seconds=$((minutes * 60))
sox -q -n -r 48000 -c 2 -b 16 "$dir/source.wav" synth "$seconds" sine 100-8000 vol 0.5
flac -s -f -o "$dir/a.flac" "$dir/source.wav"
opusenc --quiet --bitrate 128 "$dir/source.wav" "$dir/a.opus"
lame --silent -b 192 "$dir/source.wav" "$dir/a.mp3"
rm "$dir/source.wav"

elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

open_in_app() {
    local file=$1 peak=0 hwm=0 r h start end
    start=$(date +%s.%N)
    QT_QPA_PLATFORM=offscreen ZQ_STARTUP_PROBE=complete "$app" "$file" >/dev/null 2>&1 &
    local pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        r=$(awk '/^RssAnon/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
        h=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
        [ -n "$r" ] && [ "$r" -gt "$peak" ] && peak=$r
        [ -n "$h" ] && hwm=$h
        sleep 0.1
    done
    wait "$pid" || { echo "$file: the program failed"; return 1; }
    end=$(date +%s.%N)
    printf '%-5s window complete in %s s, RssAnon peak %d MB, VmHWM %d MB' "${file##*.}" \
        "$(elapsed "$start" "$end")" $((peak / 1024)) $((hwm / 1024))
}

own_decoder() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    printf '; its own decoder %s s\n' "$(elapsed "$start" "$end")"
}

echo "$minutes min of stereo 48 kHz:"
open_in_app "$dir/a.flac" && own_decoder flac -s -d -c "$dir/a.flac"
open_in_app "$dir/a.opus" && own_decoder opusdec --quiet "$dir/a.opus" -
open_in_app "$dir/a.mp3" && own_decoder lame --silent --decode "$dir/a.mp3" -
