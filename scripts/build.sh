#!/usr/bin/env bash
# Installs what is missing, configures, builds, and then opens the demo
# sound in the application ("run"; without a display, prints its
# properties), every test ("test"), or the open-path fuzzer for a number of
# seconds ("fuzz [SECONDS]", 120 by default; clang, in build-fuzz/).
# Debian 12; run as root or a sudoer.
#   ZQ_SANITIZE=1  build with AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)
#   ZQ_TSAN=1      build with ThreadSanitizer (build-tsan/)
set -euo pipefail
cd "$(dirname "$0")/.."

action=${1:-run}
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libsndfile1-dev libmpg123-dev portaudio19-dev libsoxr-dev libebur128-dev
          libgtest-dev libbenchmark-dev libfftw3-dev sox fonts-dejavu-core)
if [ "$action" = fuzz ]; then packages+=(clang libclang-rt-14-dev); fi
# The installation test validates the desktop entry and compiles the MIME types;
# the quit-path test drives the real program under Xvfb; the playback tests
# listen to a private sound server (ALSA's default device reaches it through
# the pulse plugin, as on a desktop); the formats' own encoders write the
# files the decoding tests read; a screen reader's view of the window is
# read through AT-SPI on a private session bus.
if [ "$action" = test ]; then
    packages+=(desktop-file-utils shared-mime-info libxml2-utils xvfb xauth xdotool
               pulseaudio pulseaudio-utils libasound2-plugins libpulse-dev
               flac vorbis-tools opus-tools lame twolame
               dbus at-spi2-core python3-pyatspi)
fi

sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_if_needed apt-get update -qq
    sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=build
flags=()
if [ "${ZQ_SANITIZE:-0}" = 1 ]; then build=build-asan; flags+=(-DZQ_SANITIZE=ON); fi
if [ "${ZQ_TSAN:-0}" = 1 ]; then build=build-tsan; flags+=(-DZQ_TSAN=ON); fi
if [ "$action" = fuzz ]; then
    build=build-fuzz
    flags=(-DZQ_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
fi

cmake -S . -B "$build" -G Ninja "${flags[@]}" > /dev/null
if [ "$action" = run ]; then
    # What running needs: the application, the tools and the demo sound;
    # the tests and benchmarks are built by the test command.
    cmake --build "$build" --parallel 2 --target zqaudio zqinfo zqconvert zqplay demo_sound
else
    cmake --build "$build" --parallel 2
fi

# A private PulseAudio for the test run: a 48 kHz float stereo null sink
# ("zqtest", recorded from "zqtest.monitor") on a socket of its own, never
# exiting while idle, stopped when this script ends whatever the result.
start_sound_server() {
    command -v pulseaudio > /dev/null || return 0
    sound_dir=$(mktemp -d /tmp/zq-sound.XXXXXX)
    export XDG_RUNTIME_DIR=$sound_dir PULSE_RUNTIME_PATH=$sound_dir PULSE_STATE_PATH=$sound_dir
    export PULSE_SERVER=unix:$sound_dir/native
    pulseaudio --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit -n \
        --log-target="file:$sound_dir/server.log" \
        -L "module-null-sink sink_name=zqtest rate=48000 format=float32le channels=2" \
        -L "module-native-protocol-unix auth-anonymous=1 socket=$sound_dir/native" &
    sound_pid=$!
    trap 'kill "$sound_pid" 2> /dev/null; wait "$sound_pid" 2> /dev/null; rm -rf "$sound_dir"' EXIT
    for _ in $(seq 100); do
        pactl info > /dev/null 2>&1 && break
        sleep 0.1
    done
    if pactl set-default-sink zqtest > /dev/null 2>&1; then
        echo "Sound server for the tests: $PULSE_SERVER"
    else
        echo "The private sound server did not start; the tests that listen to it are skipped."
        cat "$sound_dir/server.log" 2> /dev/null || true
    fi
}

case "$action" in
run)
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
        "$build/bin/zqaudio" "$build/demo.wav"
    else
        echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): the demo sound's properties instead of its window."
        "$build/bin/zqinfo" "$build/demo.wav"
    fi
    ;;
test)
    export QT_QPA_PLATFORM=offscreen
    start_sound_server
    ctest --test-dir "$build" --output-on-failure --parallel 2 --timeout 600
    ;;
fuzz)
    # Inputs of up to 64 KB from the committed corpus and freshly generated
    # seeds; a crash, a sanitizer report, an input slower than the timeout or
    # an allocation over the limit stops the run with a failure and leaves
    # the input in build-fuzz/artifacts/.
    seconds=${2:-120}
    rm -rf "$build/corpus" "$build/seeds" "$build/artifacts"
    mkdir -p "$build/corpus" "$build/seeds" "$build/artifacts"
    "$build/bin/fuzz_seeds" "$build/seeds"
    cp fuzz/regression/* "$build/corpus/"
    "$build/bin/open_fuzzer" "$build/corpus" "$build/seeds" -max_total_time="$seconds" -max_len=65536 \
        -timeout=2 -rss_limit_mb=2048 -malloc_limit_mb=512 -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/"
    ;;
*)
    echo "usage: $0 run|test|fuzz [SECONDS]" >&2
    exit 2
    ;;
esac
