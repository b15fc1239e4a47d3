#!/usr/bin/python3
"""Reads zqaudio's window through AT-SPI as a screen reader does: the names,
roles and values of its parts, then the events sent while keys move the
play position (End) and add a marker (M). Exit status 0 when all is as it
should be; each shortfall is printed.

    atspi_check.py X_WINDOW_ID
"""
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

window = sys.argv[1]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL: " + what)


def find_app(timeout=20):
    end = time.time() + timeout
    while time.time() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name in ("ZQAudio", "ZQ Audio", "zqaudio"):
                return app
        time.sleep(0.25)
    return None


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for i in range(node.childCount):
        yield from walk(node.getChildAtIndex(i), depth + 1)


app = find_app()
if app is None:
    print("FAIL: zqaudio is not on the accessibility bus; there are %s"
          % [a.name for a in pyatspi.Registry.getDesktop(0) if a is not None])
    sys.exit(1)

nodes = list(walk(app))
by_role = {}
for n in nodes:
    by_role.setdefault(n.getRole(), []).append(n)


def named(role, name):
    return [n for n in by_role.get(role, []) if n.name == name]


views = [n for n in by_role.get(pyatspi.ROLE_CHART, []) if n.name.endswith(", waveform")]
check(len(views) == 2, "two channel views, found %d" % len(views))
check(bool(named(pyatspi.ROLE_CHART, "Channel 1, waveform")), "Channel 1's view by name")
rulers = named(pyatspi.ROLE_LIST, "Time ruler and markers")
check(len(rulers) == 1, "the ruler")
if rulers:
    items = [rulers[0].getChildAtIndex(i).name for i in range(rulers[0].childCount)]
    check("Intro, marker at 00:00:01.000" in items, "the marker item, among %s" % items)
    check("Verse, region from 00:00:02.000 to 00:00:04.000" in items, "the region item, among %s" % items)
check(bool(named(pyatspi.ROLE_PROGRESS_BAR, "Output level")), "the level meter")
for name in ("Play", "Stop", "Go to Start", "Back One Second", "Forward One Second", "Go to End"):
    check(any(n.name == name for n in nodes), "the %s button" % name)
check(any(n.name.startswith("Play position: ") for n in nodes), "the play position readout")
check(any(n.name == "Mute channel 1" for n in nodes), "channel 1's mute toggle")
# Focusable parts all have names.
unnamed = [n.getRoleName() for n in nodes
           if n.getState().contains(pyatspi.STATE_FOCUSABLE) and n.getState().contains(pyatspi.STATE_SHOWING)
           and not n.name.strip()]
check(not unnamed, "focusable parts without a name: %s" % unnamed)
description = views[0].description if views else ""
check(description.startswith("Position 00:00:00.000"), "the view's value at the start: %r" % description)

heard = []


def listener(event):
    source = event.source
    heard.append((event.type, source.name if source is not None else ""))


def press_keys():
    for keys in (["End"], ["m"]):
        subprocess.run(["xdotool", "windowfocus", "--sync", window], check=False)
        subprocess.run(["xdotool", "key", "--clearmodifiers"] + keys, check=False)
        time.sleep(0.5)
    GLib.timeout_add(1500, stop)
    return False


def stop():
    pyatspi.Registry.stop()
    return False


pyatspi.Registry.registerEventListener(listener, "object:property-change", "object:children-changed",
                                       "object:value-changed")
GLib.timeout_add(1000, press_keys)
GLib.timeout_add(15000, stop)  # whatever happens
pyatspi.Registry.start()

moved = [h for h in heard if h[1] == "Channel 1, waveform" and "value" in h[0]]
check(bool(moved), "the position's change heard from Channel 1's view; heard %s" % heard[:20])
marked = [h for h in heard if h[1] == "Time ruler and markers"]
check(bool(marked), "the new marker heard from the ruler; heard %s" % heard[:20])
if views:
    after = views[0].description
    check(after.startswith("Position 00:00:06.000, sample 48000"), "the view's value at the end: %r" % after)
if rulers:
    check(rulers[0].childCount >= 3, "the ruler lists the new marker (%d items)" % rulers[0].childCount)

print("%d checks failed" % len(failures) if failures else "all heard as a screen reader would")
sys.exit(1 if failures else 0)
