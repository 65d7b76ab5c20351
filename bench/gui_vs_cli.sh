#!/usr/bin/env bash
# A drop of about 200 MB on the window against korvalen-cli on the same files,
# words and options: the time of each (best of three), the ratio, whether the
# two output files are the same, how long the window went without handling
# its events, and how soon a Stop ended a run.
#
#   bench/gui_vs_cli.sh [TEXT-FOLDER [MEGABYTES]]
#
# TEXT-FOLDER holds code page 932 text (default ../shared/corpus/text,
# relative to the project root); its files are copied over and over into a temporary folder up to MEGABYTES
# (default 200). Words: bench/words-common.utf8.txt. Release build in
# build-gui-bench (override with BUILD=...).
set -euo pipefail
cd "$(dirname "$0")/.."
src=${1:-../shared/corpus/text}
mb=${2:-200}
build=${BUILD:-build-gui-bench}
words_utf8=${WORDS:-bench/words-common.utf8.txt}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVALEN_BENCH=ON \
    -DKORVALEN_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target korvalen-cli gui_drop_bench >/dev/null
cli="$build/cli/korvalen-cli"
gui="$build/app/gui_drop_bench"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
iconv -f UTF-8 -t CP932 "$words_utf8" >"$tmp/words.sjis"
mkdir "$tmp/in"
size=0 round=0
want=$((mb * 1000 * 1000))
while [ "$size" -lt "$want" ]; do
    for f in "$src"/*; do
        [ -f "$f" ] || continue
        cp "$f" "$tmp/in/$round-$(basename "$f")"
        size=$((size + $(stat -c %s "$f")))
        [ "$size" -ge "$want" ] && break
    done
    round=$((round + 1))
done
mapfile -t files < <(find "$tmp/in" -type f | LC_ALL=C sort)
echo "corpus: ${#files[@]} files, $((size / 1000000)) MB from $src; words: $words_utf8"

best() {  # best of three wall-clock seconds of "$@"
    local b=
    for _ in 1 2 3; do
        local s e t
        s=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || [ $? -eq 1 ]
        e=$(date +%s.%N)
        t=$(echo "$e - $s" | bc)
        if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then b=$t; fi
    done
    echo "$b"
}

cat "${files[@]}" >/dev/null  # both runs start with the files cached
t_cli=$(best "$cli" -q -o "$tmp/cli.txt" -W "$tmp/words.sjis" "${files[@]}")
t_prog=$(best "$gui" -W "$tmp/words.sjis" -o "$tmp/gui.txt" "${files[@]}")
# The drop itself, timed inside the window (best of three), with the longest
# time the window went without handling its events.
t_drop= gap_max=0
for _ in 1 2 3; do
    read -r run hits gap _ < <("$gui" -W "$tmp/words.sjis" -o "$tmp/gui.txt" "${files[@]}" 2>/dev/null)
    if [ -z "$t_drop" ] || [ "$(echo "$run < $t_drop" | bc)" = 1 ]; then t_drop=$run; fi
    if [ "$(echo "$gap > $gap_max" | bc)" = 1 ]; then gap_max=$gap; fi
done
printf 'korvalen-cli          : %7.3f s  (whole program)\n' "$t_cli"
printf 'drop on the window    : %7.3f s  (the run; ratio %.3f)\n' "$t_drop" "$(echo "$t_drop / $t_cli" | bc -l)"
printf 'window program        : %7.3f s  (start-up included; ratio %.3f)\n' "$t_prog" \
    "$(echo "$t_prog / $t_cli" | bc -l)"
echo "hit lines             : $hits; longest gap between window events: ${gap_max} ms"
if cmp -s "$tmp/cli.txt" "$tmp/gui.txt"; then
    echo "output files          : identical ($(stat -c %s "$tmp/cli.txt") bytes)"
else
    echo "output files          : DIFFER" && exit 1
fi
read -r _ _ _ stop < <("$gui" -W "$tmp/words.sjis" -o "$tmp/gui.txt" --stop-after 30 "${files[@]}" 2>/dev/null)
echo "stop                  : the run ended ${stop} ms after Stop (-1: it ended first)"
