#!/bin/bash
# Every way out of the real program, under a real X server (Xvfb): documents
# of 1, 2, 3, 6, 12 and 16 channels closed by the window's close request
# (as a window manager sends it), by Ctrl+W and by Ctrl+Q, stopped and while
# playing; SIGTERM and SIGINT; Ctrl+W after an edit answered with Discard;
# Ctrl+Q with a stereo and a 3-channel document open side by side; and the
# only open cancelled. Each run must end by itself with exit status 0, an
# empty leak report and no sanitizer report, and must leave no key or button
# pressed in the X server (the next start on the display would receive it).
#   quit-paths.sh BIN_DIR CLOSE_REQUEST_HELPER HELD_KEYS_HELPER
set -uo pipefail
bin=$1
close_request=$2
held_keys=$3
if [ -z "${DISPLAY:-}" ]; then
    command -v xvfb-run >/dev/null && command -v xdotool >/dev/null || {
        echo "SKIP: xvfb-run and xdotool are needed"
        exit 77
    }
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
export ZQ_AUDIO_OUTPUT=null
unset QT_QPA_PLATFORM # the real X server, not the offscreen platform of the widget tests
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Sanitizer builds: reports of the toolkit's own libraries are not ours.
# The X client libraries are not built for the thread checker: their own
# mutex handling (a mutex destroyed locked at exit, one unlocked through
# another path) is reported as misuse.
{
    grep -v '^#' "$(dirname "$0")/../support/tsan.supp"
    for lib in libQt6Core.so.6 libQt6Gui.so.6 libQt6Widgets.so.6 libglib-2.0.so.0 libQt6XcbQpa.so.6 \
        libxcb.so.1 libX11.so.6 libXrender.so.1; do
        echo "called_from_lib:$lib"
    done
    for lib in libxcb.so.1 libX11.so.6 libXrender.so.1 libXext.so.6 libXi.so.6 libxkbcommon.so.0 \
        libxkbcommon-x11.so.0 libfontconfig.so.1; do
        echo "mutex:$lib"
    done
} >"$work/tsan.supp"
printf 'leak:libfontconfig.so\nleak:libX11.so\nleak:libxcb\nleak:libQt6XcbQpa.so\nleak:libdbus-1.so\nleak:libglib-2.0.so\n' >"$work/lsan.supp"
# Mutex misuse inside them goes unreported here (the unit tests check ours);
# lock-order inversions are reported with both stacks.
export TSAN_OPTIONS="suppressions=$work/tsan.supp report_mutex_bugs=0 report_destroy_locked=0 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$work/lsan.supp ${LSAN_OPTIONS:-}"
export XDG_CONFIG_HOME=$work/config

failures=0
runs=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# A sine of `seconds` seconds in every one of `channels` channels.
fixture() { # channels seconds -> path
    local f=$work/c$1-$2s.wav
    [ -f "$f" ] || sox -q -n -r 44100 -c "$1" -b 16 "$f" synth "$2" sine 440 vol 0.5
    echo "$f"
}

# Waits (sanitizer builds start slowly) for a visible window of `pid` whose
# title matches `pattern`; prints its id.
window_of() { # pid pattern
    local w
    for _ in $(seq 1 600); do
        w=$(xdotool search --all --pid "$1" --onlyvisible --name "$2" 2>/dev/null | head -1)
        if [ -n "$w" ]; then
            echo "$w"
            return 0
        fi
        kill -0 "$1" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# Waits for the program to end by itself; checks how it ended.
expect_clean_exit() { # pid label
    local pid=$1 label=$2 status
    for _ in $(seq 1 600); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -9 "$pid"
        wait "$pid" 2>/dev/null
        fail "$label: still running a minute after it was asked to end"
        return
    fi
    wait "$pid"
    status=$?
    runs=$((runs + 1))
    if [ "$status" -ne 0 ]; then
        fail "$label: exit status $status"
        tail -n 15 "$work/err"
    fi
    grep -q '.suoqe.' "$work/out" || fail "$label: the termination did not run"
    if grep -q -e 'aref_^^lqdeq' -e 'lqct^' "$work/out"; then fail "$label: the leak report is not empty"; fi
    if grep -q -e 'Sanitizer' -e 'runtime error' "$work/err"; then
        fail "$label: sanitizer report"
        grep -m 20 -e 'Sanitizer' -e 'runtime error' -A 12 "$work/err"
    fi
}

# Releases whatever key or pointer button the X server still holds; with
# `what`, a held one is a failure of the step that left it (keys sent to a
# window that closed on the press lose their release, and the server then
# auto-repeats them into whatever starts next).
release_held() { # [what]
    local held k
    held=$("$held_keys") || return 0
    [ -z "$held" ] && return 0
    [ -n "${1:-}" ] && fail "$1 left pressed: $(echo $held)"
    while read -r k; do
        case $k in
        button\ *) xdotool mouseup "${k#button }" 2>/dev/null ;;
        *) xdotool keyup "$k" 2>/dev/null ;;
        esac
    done <<<"$held"
}

# Starts the program, with nothing held in the X server, and waits until it
# has reached it. A busy Xvfb now and then refuses a connection ("could not
# connect to display"), and the toolkit then aborts before any of our code
# runs: that start, and only that, is tried again.
start() { # files...
    release_held "the previous run"
    for _ in 1 2 3; do
        "$bin/zqaudio" "$@" >"$work/out" 2>"$work/err" &
        pid=$!
        for _ in $(seq 1 600); do
            xdotool search --all --pid "$pid" --name "" >/dev/null 2>&1 && return 0
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -0 "$pid" 2>/dev/null && return 0
        grep -q "could not connect to display" "$work/err" || return 0
        wait "$pid" 2>/dev/null
        echo "note: the X server refused a connection; starting again"
    done
}

key() { # window keys...
    local w=$1
    shift
    # No window manager gives focus here: take it, as a click would.
    xdotool windowfocus --sync "$w" 2>/dev/null
    sleep 0.1 # the toolkit makes it the active window
    # Through the server (XTEST) to the focused window, not addressed to the
    # window: when the press closes it, releases sent to it would be lost
    # and the server would keep the keys pressed. Every key of each chord is
    # released once more in case a press and its release were split.
    xdotool key "$@" 2>/dev/null
    local chord
    for chord in "$@"; do
        # shellcheck disable=SC2046
        xdotool keyup $(echo "$chord" | tr '+' ' ') 2>/dev/null
    done
}

for channels in 1 2 3 6 12 16; do
    file=$(fixture "$channels" 3)
    name=$(basename "$file")
    for way in close ctrl+w ctrl+q; do
        for state in stopped playing; do
            label="$channels channels, $way, $state"
            start "$file"
            if ! w=$(window_of "$pid" "$name"); then
                expect_clean_exit "$pid" "$label (no window)"
                fail "$label: no window"
                continue
            fi
            sleep 0.3
            if [ "$state" = playing ]; then
                key "$w" space
                sleep 0.5
            fi
            # A key sent before the window is active is lost: while the
            # window stays, the request is made again (at most three times).
            for _ in 1 2 3; do
                case $way in
                close) "$close_request" "$w" ;;
                *) key "$w" "$way" ;;
                esac
                gone=0
                for _ in $(seq 1 100); do
                    xdotool search --all --pid "$pid" --onlyvisible --name "$name" >/dev/null 2>&1 || {
                        gone=1
                        break
                    }
                    sleep 0.1
                done
                [ "$gone" = 1 ] && break
            done
            expect_clean_exit "$pid" "$label"
        done
    done
done

for channels in 3 6 12; do
    file=$(fixture "$channels" 3)
    name=$(basename "$file")
    for signal in TERM INT; do
        start "$file"
        if w=$(window_of "$pid" "$name"); then
            key "$w" space
            sleep 0.5
        fi
        kill -"$signal" "$pid"
        expect_clean_exit "$pid" "$channels channels, SIG$signal while playing"
    done
    # An edit, then Ctrl+W: the prompt's Discard, clicked with the pointer
    # (the middle of its three buttons, 136 px from its right edge and 24 px
    # from its bottom with the fonts the build installs).
    start "$file"
    if w=$(window_of "$pid" "$name"); then
        key "$w" ctrl+a
        sleep 0.2
        key "$w" Delete
        sleep 0.3
        key "$w" ctrl+w
        if prompt=$(window_of "$pid" "Unsaved Changes"); then
            for _ in 1 2 3; do
                sleep 0.5
                key "$prompt" alt+d # Discard's access key
                sleep 1.5
                xdotool search --all --pid "$pid" --onlyvisible --name "Unsaved Changes" >/dev/null 2>&1 || break
            done
        else
            fail "$channels channels: no prompt after an edit and Ctrl+W"
            kill -TERM "$pid"
        fi
    fi
    expect_clean_exit "$pid" "$channels channels, an edit, Ctrl+W, Discard"
done

# Two documents side by side, one stereo and one of three channels, Ctrl+Q.
two=$(fixture 2 3)
three=$(fixture 3 3)
start "$two" "$three"
if w=$(window_of "$pid" "$(basename "$two")") && window_of "$pid" "$(basename "$three")" >/dev/null; then
    key "$w" space
    sleep 0.5
    key "$w" ctrl+q
fi
expect_clean_exit "$pid" "a stereo and a 3-channel document, Ctrl+Q"

# The window-closing chord must leave the keyboard clear, so that the next
# program started on the display keeps its window.
file=$(fixture 2 1)
name=$(basename "$file")
start "$file"
if w=$(window_of "$pid" "$name"); then
    sleep 0.3
    key "$w" ctrl+w
fi
expect_clean_exit "$pid" "Ctrl+W, then a start on the same display (the first run)"
release_held "Ctrl+W on a window it closes"
start "$file"
if w=$(window_of "$pid" "$name"); then
    sleep 2
    xdotool search --all --pid "$pid" --onlyvisible --name "$name" >/dev/null 2>&1 ||
        fail "a start after Ctrl+W closed a window lost its own window"
    kill -TERM "$pid"
else
    fail "a start after Ctrl+W closed a window showed no window"
fi
expect_clean_exit "$pid" "Ctrl+W, then a start on the same display (the second run)"

# Presses `key` in the window titled `pattern` until it goes (a key sent
# before the toolkit has made the window active is lost); false when no such
# window showed.
press_until_gone() { # pattern key
    local window
    window=$(window_of "$pid" "$1") || return 1
    for _ in $(seq 1 15); do
        # Without a window manager the keyboard follows the pointer, and a
        # small window that has not yet been given focus would miss the key
        # (the open would then finish and leave its window open).
        xdotool mousemove --window "$window" 20 20 2>/dev/null
        key "$window" "$2"
        sleep 0.7
        xdotool search --all --pid "$pid" --onlyvisible --name "$1" >/dev/null 2>&1 || break
    done
}

# The only open cancelled: a long file of a codec (GSM, decoded before it
# opens, for seconds), Escape in its progress window. On a busy machine the
# decode can end before a key reaches the window; such a run cancelled
# nothing and is made again (the document's window shows then).
long=$work/long.wav
sox -q -n -r 8000 -c 1 -e gsm-full-rate "$long" synth 7200 sine 440 vol 0.5
for attempt in 1 2 3; do
    start "$long"
    press_until_gone "Opening" Escape || fail "the long open showed no progress window"
    sleep 1
    if [ "$attempt" -lt 3 ] && kill -0 "$pid" 2>/dev/null &&
        xdotool search --all --pid "$pid" --onlyvisible --name "long.wav" >/dev/null 2>&1; then
        echo "note: the open ended before Escape reached it; again"
        kill -TERM "$pid"
        wait "$pid" 2>/dev/null
        continue
    fi
    expect_clean_exit "$pid" "the only open cancelled"
    break
done

# The only open failing: its alert's Ok ends the program too.
bad=$work/damaged.wav
head -c 4096 /dev/urandom >"$bad"
start "$bad"
press_until_gone "could not be opened" Return || fail "the damaged file showed no alert"
expect_clean_exit "$pid" "the only open failing, its alert dismissed"

# A missing file alone ends the same way (no start window stays behind).
start "$work/missing.wav"
press_until_gone "could not be opened" Return || fail "the missing file showed no alert"
expect_clean_exit "$pid" "the only file missing, its alert dismissed"

# A file that is missing beside one still opening: dismissing the first's
# alert leaves the program running, and the second's window comes.
start "$work/missing.wav" "$long"
press_until_gone "could not be opened" Return || fail "the missing file showed no alert"
if w=$(window_of "$pid" "^long\\.wav"); then
    key "$w" ctrl+w
else
    fail "dismissing an alert ended the program while another file was opening"
fi
expect_clean_exit "$pid" "a missing file's alert dismissed while another opens"

release_held "the last run"
echo "$runs runs of the program ended, $failures failures"
[ "$failures" -eq 0 ]
