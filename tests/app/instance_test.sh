#!/usr/bin/env bash
# Real starts of the window program: several at once give one window, which
# searches every start's files; the window is one per display.
# Usage: instance_test.sh KORVALEN_EXE
set -euo pipefail
exe=$1
work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A copy of its own keeps its INI beside it, away from the build's.
mkdir -m 0700 "$work/run"
cp "$exe" "$work/korvalen"
printf 'k=apple\r\n' >"$work/rel.kvl"
printf '[File]\r\nRelFile=%s\r\nOutputFile=%s\r\n[Other]\r\nFileOverWrite=0\r\nOutputFileOpen=0\r\n' \
    "$work/rel.kvl" "$work/out.txt" >"$work/korvalen.INI"
for i in 1 2 3 4; do printf 'apple %s\n' "$i" >"$work/f$i.txt"; done
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work/run
unset WAYLAND_DISPLAY

alive() {  # the started windows still running
    local n=0
    for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && n=$((n + 1)); done
    echo "$n"
}
hits() {  # hit lines, each under its whole path
    grep -c '^/.*(1) :(apple)' "$work/out.txt" 2>/dev/null || true
}
settle() {  # until $1 hits are written (10 s at most)
    for _ in $(seq 100); do [[ $(hits) -ge $1 ]] && break; sleep 0.1; done
    sleep 0.3
}

# Four starts within a few milliseconds, with names relative to their folder.
cd "$work"
for i in 1 2 3 4; do
    DISPLAY=:56 ./korvalen "f$i.txt" 2>>"$work/log" &
    pids+=($!)
done
settle 4
[[ $(hits) -eq 4 ]] || fail "hits of $(hits) of 4 starts: $(cat "$work/out.txt" "$work/log")"
[[ $(alive) -eq 1 ]] || fail "$(alive) windows for four starts at once"

# Another display has a window of its own; the same display's screen 0 does not.
DISPLAY=:57 "$work/korvalen" "$work/f1.txt" 2>>"$work/log" &
pids+=($!)
settle 5
[[ $(alive) -eq 2 ]] || fail "display :57 got no window of its own"
# A relative name is handed on whole: the window's folder is another.
cd "$work/run"
DISPLAY=:56.0 timeout 10 ../korvalen ../f2.txt || fail "display :56.0 kept a window"
settle 6
[[ $(hits) -eq 6 ]] || fail "$(hits) hits after six files"
