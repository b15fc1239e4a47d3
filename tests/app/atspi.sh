#!/bin/bash
# The program as a screen reader meets it, end to end: under a real X server
# (Xvfb), on a private session bus with the accessibility bus, zqaudio opens
# a file with markers and a script reads its accessibility tree through
# AT-SPI (pyatspi), then listens while keys move the play position and add a
# marker.
#   atspi.sh BIN_DIR
set -uo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${DISPLAY:-}" ]; then
    command -v xvfb-run >/dev/null && command -v xdotool >/dev/null || {
        echo "SKIP: xvfb-run and xdotool are needed"
        exit 77
    }
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
if [ -z "${ZQ_ATSPI_BUS:-}" ]; then
    command -v dbus-run-session >/dev/null && [ -x /usr/libexec/at-spi-bus-launcher ] &&
        /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || {
        echo "SKIP: dbus, at-spi2-core and python3-pyatspi are needed"
        exit 77
    }
    exec env ZQ_ATSPI_BUS=1 dbus-run-session -- "$0" "$@"
fi
export ZQ_AUDIO_OUTPUT=null
unset QT_QPA_PLATFORM # the real X server
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 # as when a screen reader runs
export NO_AT_BRIDGE=0
work=$(mktemp -d)
/usr/libexec/at-spi-bus-launcher --launch-immediately &
launcher=$!
trap 'kill $launcher 2>/dev/null; kill -9 ${app:-0} 2>/dev/null; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
# Sanitizer builds: what the toolkit's and the bus's own libraries leave is not ours.
printf 'leak:libfontconfig.so\nleak:libX11.so\nleak:libxcb\nleak:libQt6XcbQpa.so\nleak:libdbus-1.so\nleak:libglib-2.0.so\nleak:libQt6DBus.so\nleak:libQt6Gui.so\n' >"$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp ${LSAN_OPTIONS:-}"
export TSAN_OPTIONS="report_mutex_bugs=0 report_destroy_locked=0 ${TSAN_OPTIONS:-}"

sox -q -n -r 8000 -c 2 -b 16 "$work/plain.wav" synth 6 sine 440 vol 0.5
printf '1\t1\tIntro\n2\t4\tVerse\n' >"$work/marks.txt"
"$bin/zqconvert" --labels "$work/marks.txt" "$work/plain.wav" "$work/a11y.wav" >/dev/null || exit 1
sleep 1 # the registry comes up with the bus
"$bin/zqaudio" "$work/a11y.wav" >"$work/app.log" 2>&1 &
app=$!
window=$(xdotool search --sync --onlyvisible --name 'a11y' 2>/dev/null | head -1)
[ -n "$window" ] || { echo "FAIL: no window"; cat "$work/app.log"; exit 1; }
sleep 1
/usr/bin/python3 "$here/atspi_check.py" "$window"
status=$?
kill -TERM $app 2>/dev/null
wait $app 2>/dev/null
exit $status
