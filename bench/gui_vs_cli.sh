#!/usr/bin/env bash
# A drop on the window against korvalen-cli on the same files, words and
# options, under a real X server (Xvfb) and window manager (openbox), on three
# sets of about 200 MB: a folder of 100,000 small files (SearchFolders), 8 big
# files, and the text files copied over and over. For each: the wall time of
# each (best of three), the ratio, the CPU time of the window, of the window
# manager and of the X server during the window's runs, the caption and
# task-bar title changes per second, whether the output files are the same,
# and how long the window went without handling its events. Last, how soon a
# Stop ends a run.
#
#   bench/gui_vs_cli.sh [TEXT-FOLDER [MEGABYTES]]
#
# TEXT-FOLDER holds code page 932 text (default ../shared/corpus/text). Words:
# bench/words-common.utf8.txt. Release build in build-gui-bench (override
# with BUILD=...). Needs xvfb-run and openbox (scripts/deps.sh test).
set -euo pipefail
cd "$(dirname "$0")/.."
src=${1:-../shared/corpus/text}
mb=${2:-200}
build=${BUILD:-build-gui-bench}
words_utf8=${WORDS:-bench/words-common.utf8.txt}

if [ -z "${KORVALEN_IN_X:-}" ]; then
    fresh=()  # a build folder of its own needs no tests; one given keeps its settings
    [ -f "$build/CMakeCache.txt" ] || fresh=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVALEN_TESTS=OFF)
    cmake -S . -B "$build" "${fresh[@]}" -DKORVALEN_BENCH=ON >/dev/null
    cmake --build "$build" -j2 --target korvalen-cli gui_drop_bench >/dev/null
    # The rest under its own X server, with openbox managing the window.
    exec env KORVALEN_IN_X=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
cli="$build/cli/korvalen-cli"
gui="$build/app/gui_drop_bench"

openbox >/dev/null 2>&1 &
wm=$!
tmp=$(mktemp -d)
trap 'kill $wm 2>/dev/null || true; rm -rf "$tmp"' EXIT
sleep 1
xserver=$(pgrep -n -x Xvfb || true)

iconv -f UTF-8 -t CP932 "$words_utf8" >"$tmp/words.sjis"
want=$((mb * 1000 * 1000))
# About MEGABYTES of the text, whole files, in a fixed order.
stream() {
    local size=0
    while :; do
        for f in "$src"/*; do
            [ -f "$f" ] || continue
            cat "$f"
            size=$((size + $(stat -c %s "$f")))
            [ "$size" -ge "$want" ] && return
        done
    done
}
mkdir "$tmp/copies" "$tmp/small" "$tmp/big"
size=0 round=0
while [ "$size" -lt "$want" ]; do
    for f in "$src"/*; do
        [ -f "$f" ] || continue
        cp "$f" "$tmp/copies/$round-$(basename "$f")"
        size=$((size + $(stat -c %s "$f")))
        [ "$size" -ge "$want" ] && break
    done
    round=$((round + 1))
done
stream >"$tmp/all.txt"
split -n l/100000 -a 6 -d --additional-suffix=.txt "$tmp/all.txt" "$tmp/small/s"
split -n l/8 -a 1 -d --additional-suffix=.txt "$tmp/all.txt" "$tmp/big/b"
rm "$tmp/all.txt"

ticks() {  # user + system CPU time of process $1, in clock ticks
    [ -n "$1" ] && [ -r "/proc/$1/stat" ] || { echo 0; return; }
    awk '{print $14 + $15}' "/proc/$1/stat"
}
hz=$(getconf CLK_TCK)

best_cli() {  # best of three wall-clock seconds of korvalen-cli "$@"
    local b=
    for _ in 1 2 3; do
        local s e t
        s=$(date +%s.%N)
        "$cli" -q -o "$tmp/cli.txt" -W "$tmp/words.sjis" "$@" >/dev/null 2>&1 || [ $? -eq 1 ]
        e=$(date +%s.%N)
        t=$(echo "$e - $s" | bc)
        if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then b=$t; fi
    done
    echo "$b"
}

# One set: LABEL, then the options and names both programs get.
compare() {
    local label=$1
    shift
    cat "$tmp"/copies/* "$tmp"/small/* "$tmp"/big/* >/dev/null 2>&1 || true  # cached
    local t_cli t_drop= t_prog= gap_max=0 changes=0 cpu_gui=0 cpu_wm=0 cpu_x=0 hits
    t_cli=$(best_cli "$@")
    for _ in 1 2 3; do
        local wm0 x0 out run gap ch wall
        wm0=$(ticks "$wm") x0=$(ticks "$xserver")
        out=$(/usr/bin/time -f '%U %S %e' -o "$tmp/time" \
            "$gui" -W "$tmp/words.sjis" -o "$tmp/gui.txt" $pace "$@" 2>/dev/null)
        wall=$(awk '{print $3}' "$tmp/time")
        if [ -z "$t_prog" ] || [ "$(echo "$wall < $t_prog" | bc)" = 1 ]; then t_prog=$wall; fi
        read -r run hits gap _ ch <<<"$out"
        cpu_wm=$((cpu_wm + $(ticks "$wm") - wm0))
        cpu_x=$((cpu_x + $(ticks "$xserver") - x0))
        cpu_gui=$(echo "$cpu_gui + $(awk '{print $1 + $2}' "$tmp/time")" | bc)
        if [ -z "$t_drop" ] || [ "$(echo "$run < $t_drop" | bc)" = 1 ]; then
            t_drop=$run changes=$ch
        fi
        if [ "$(echo "$gap > $gap_max" | bc)" = 1 ]; then gap_max=$gap; fi
    done
    echo "== $label"
    printf '  korvalen-cli       : %7.3f s\n' "$t_cli"
    printf '  window program     : %7.3f s  (start-up included; ratio %.3f)\n' "$t_prog" \
        "$(echo "$t_prog / $t_cli" | bc -l)"
    printf '  drop on the window : %7.3f s  (the run alone; ratio %.3f)\n' "$t_drop" \
        "$(echo "$t_drop / $t_cli" | bc -l)"
    printf '  CPU, 3 runs        : window %.2f s, openbox %.2f s, X server %.2f s (openbox / window %.3f)\n' \
        "$cpu_gui" "$(echo "$cpu_wm / $hz" | bc -l)" "$(echo "$cpu_x / $hz" | bc -l)" \
        "$(echo "$cpu_wm / $hz / $cpu_gui" | bc -l)"
    printf '  caption and title  : %d changes, %.1f a second (each two X properties)\n' \
        "$changes" "$(echo "$changes / $t_drop" | bc -l)"
    echo "  hit lines          : $hits; longest gap between window events: ${gap_max} ms"
    if cmp -s "$tmp/cli.txt" "$tmp/gui.txt"; then
        echo "  output files       : identical ($(stat -c %s "$tmp/cli.txt") bytes)"
    else
        echo "  output files       : DIFFER" && exit 1
    fi
}

echo "sets of about $mb MB from $src: $(ls "$tmp/small" | wc -l) small files," \
    "$(ls "$tmp/big" | wc -l) big files, $(ls "$tmp/copies" | wc -l) copies; words: $words_utf8"
pace=
compare "a folder of $(ls "$tmp/small" | wc -l) small files" --set SearchFolders=1 "$tmp/small"
mapfile -t big < <(find "$tmp/big" -type f | LC_ALL=C sort)
compare "${#big[@]} big files" "${big[@]}"
mapfile -t copies < <(find "$tmp/copies" -type f | LC_ALL=C sort)
compare "${#copies[@]} copied files" "${copies[@]}"
pace="--interval 0"
compare "the same folder, every call of the run shown as it comes" --set SearchFolders=1 "$tmp/small"
pace=
read -r _ _ _ stop _ < <("$gui" -W "$tmp/words.sjis" -o "$tmp/gui.txt" --stop-after 30 \
    "${copies[@]}" 2>/dev/null)
echo "stop: the run ended ${stop} ms after Stop (-1: it ended first)"
