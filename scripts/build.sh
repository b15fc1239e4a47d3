#!/usr/bin/env bash
# Installs what is missing, configures, builds, and then runs the demo
# ("run") or every test ("test"). Debian 12; run as root or a sudoer.
#   ZQ_SANITIZE=1  build with AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)
#   ZQ_TSAN=1      build with ThreadSanitizer (build-tsan/)
set -euo pipefail
cd "$(dirname "$0")/.."

action=${1:-run}
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libsndfile1-dev portaudio19-dev
          libgtest-dev libbenchmark-dev sox)

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

cmake -S . -B "$build" -G Ninja "${flags[@]}" > /dev/null
cmake --build "$build" --parallel 2

case "$action" in
run)
    "$build/bin/zqinfo" "$build/demo.wav"
    ;;
test)
    export QT_QPA_PLATFORM=offscreen
    ctest --test-dir "$build" --output-on-failure --parallel 2 --timeout 600
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
