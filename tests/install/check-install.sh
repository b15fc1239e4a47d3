#!/bin/bash
# Installs the build into a fresh prefix, as a packager or a user would, and
# checks that everything a desktop needs is in place and well formed: the
# programs (which run from there), the desktop entry, the MIME types and the
# icon. The validators are used where the system has them.
set -euo pipefail
build=$1
demo=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

entry=$prefix/share/applications/zqaudio.desktop
mime=$prefix/share/mime/packages/zqaudio-mime.xml
icon=$prefix/share/icons/hicolor/scalable/apps/zqaudio.svg
for f in "$prefix/bin/zqaudio" "$prefix/bin/zqinfo" "$prefix/bin/zqconvert" "$prefix/bin/zqplay"; do
    [ -x "$f" ] || { echo "not installed as a program: $f"; exit 1; }
done
for f in "$entry" "$mime" "$icon"; do
    [ -s "$f" ] || { echo "not installed: $f"; exit 1; }
done
# Captured first: grep -q leaving early would end zqinfo with SIGPIPE.
info=$("$prefix/bin/zqinfo" "$demo") || { echo "the installed zqinfo does not run"; exit 1; }
grep -q "Channels" <<<"$info" || { echo "the installed zqinfo printed no properties"; exit 1; }

grep -qx 'Exec=zqaudio %F' "$entry" || { echo "the entry does not start zqaudio with the files"; exit 1; }
grep -q '^Categories=.*\bAudio;.*AudioVideo;' "$entry" || { echo "the entry's categories"; exit 1; }
for type in audio/x-wav audio/x-aiff audio/x-caf audio/x-sd2; do
    grep -q "^MimeType=.*$type;" "$entry" || { echo "the entry does not offer $type"; exit 1; }
done

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry"
else
    echo "desktop-file-validate is not installed: the entry's syntax was not validated"
fi
if command -v xmllint >/dev/null; then
    xmllint --noout "$mime" "$icon"
else
    echo "xmllint is not installed: the MIME package and the icon were not parsed"
fi
if command -v update-mime-database >/dev/null; then
    # The package compiles into the two types, each known by its file names.
    XDG_DATA_DIRS="$prefix/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}" update-mime-database "$prefix/share/mime"
    for type in x-caf x-sd2; do
        [ -s "$prefix/share/mime/audio/$type.xml" ] || { echo "the MIME database has no audio/$type"; exit 1; }
    done
    grep -q '\*\.caf' "$prefix/share/mime/globs2" && grep -q '\*\.sd2' "$prefix/share/mime/globs2" ||
        { echo "the MIME database does not know the file names"; exit 1; }
else
    echo "update-mime-database is not installed: the MIME package was not compiled"
fi
echo "installed and checked in $prefix"
