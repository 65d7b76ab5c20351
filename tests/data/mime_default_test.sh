#!/usr/bin/env bash
# A search tool never becomes the default opener of text files: on a desktop
# with Korvalen and one editor and no default set, gio and xdg-mime both name
# the editor for text/plain (the editor's name sorts after korvalen's).
# Usage: mime_default_test.sh DESKTOP_ENTRY
set -euo pipefail
entry=$1
command -v gio >/dev/null || { echo "SKIP: no gio"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/share/applications" "$work/home" "$work/config"
cp "$entry" "$work/share/applications/korvalen.desktop"
cat >"$work/share/applications/zz-editor.desktop" <<'END'
[Desktop Entry]
Type=Application
Name=Editor
Exec=true %F
MimeType=text/plain;
END
update-desktop-database "$work/share/applications" 2>/dev/null || true
export XDG_DATA_DIRS=$work/share XDG_DATA_HOME=$work/home XDG_CONFIG_HOME=$work/config
export XDG_CONFIG_DIRS=$work/config XDG_CURRENT_DESKTOP=X-Test HOME=$work/home

gio_default=$(gio mime text/plain 2>&1 | sed -n 's/^Default application for .*: //p')
[[ $gio_default == zz-editor.desktop ]] || { echo "FAIL: gio default: $gio_default"; exit 1; }
if command -v xdg-mime >/dev/null; then
    xdg_default=$(XDG_UTILS_DEBUG_LEVEL=0 xdg-mime query default text/plain)
    [[ $xdg_default == zz-editor.desktop ]] || { echo "FAIL: xdg-mime default: $xdg_default"; exit 1; }
fi
