#!/usr/bin/env bash
# Checks that every C++ file follows .clang-format (clang-format 14, as on
# Debian 12); with --fix, formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format > /dev/null; then
    echo "Installing: clang-format"
    if [ "$(id -u)" -eq 0 ]; then apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-format
    else sudo apt-get update -qq && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-format; fi
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
    clang-format -i "${files[@]}"
else
    clang-format --dry-run --Werror "${files[@]}"
    echo "Formatting: ${#files[@]} files follow .clang-format"
fi
