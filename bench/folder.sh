#!/bin/bash
# Per-file cost: one folder of 100,000 small code page 932 files searched by
# korvalen-cli (SearchFolders on) against ripgrep and GNU grep.
#
#   bench/folder.sh [--rounds N] [--files N] [SOURCE]
#
# The folder (bench/corpus/folder-N/, 100 sub-folders, files of about 2 KB cut
# at line ends, CR LF) is built from SOURCE: a file or a folder of code page
# 932 text (default ../shared/corpus/text, relative to the project root, when
# it exists, else the output of bench/make_corpus.sh). Every search runs N times (default 3), alternating,
# page-cached; prints medians of the wall time and of the CPU time (the
# machine may be shared), ratios and hit lines (as path and line number,
# checked to be the same set for every search).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${KORVALEN_BENCH_BUILD:-$root/build-fast}
rounds=3
files=100000
source=
while [ $# -gt 0 ]; do
    case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --files) files=$2; shift 2 ;;
    -h | --help) sed -n '2,13p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) source=$1; shift ;;
    esac
done
. "$here/lib.sh"
need_pkg rg ripgrep
need_pkg iconv libc-bin
need_pkg perl perl
need_pkg bc bc
need_pkg /usr/bin/time time

build_cli

work=$here/corpus
mkdir -p "$work"
if [ -z "$source" ]; then
    if [ -d "$root/../shared/corpus/text" ]; then
        source=$root/../shared/corpus/text
    else
        source=$work/man-212.txt
        [ -s "$source" ] || "$here/make_corpus.sh" "$source" 20
    fi
fi
dir=$work/folder-$files
if [ ! -f "$dir/.done" ]; then
    echo "== $files files in $dir" >&2
    rm -rf "$dir"
    mkdir -p "$dir"
    small_files "$source" "$dir" "$files"
    touch "$dir/.done"  # hidden: no search sees it
fi
bytes=$(find "$dir" -type f -name '*.txt' -printf '%s\n' | awk '{s += $1} END {print s}')

iconv -f UTF-8 -t CP932 "$here/words-common.utf8.txt" >"$work/words-common.sjis"
perl -ne 'chomp; print "(?-u:", join("", map { sprintf("\\x%02X", ord) } split //), ")\n"' \
    "$work/words-common.sjis" >"$work/words-common.rg"
words=$work/words-common.sjis

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Every search writes one line per hit line; FileSeparate off so that
# korvalen's count has no empty lines in it.
searches=(
    "korvalen-cli|$cli -q --set SearchFolders=1 --set FileSeparate=0 -o OUT -W $words $dir"
    "rg -j1 (bytes)|rg --no-config -j1 -n --no-ignore --hidden -f $work/words-common.rg $dir >OUT"
    "grep -r -F|LC_ALL=C grep -r -n -F -f $words $dir >OUT"
    "rg (default threads)|rg --no-config -n --no-ignore --hidden -f $work/words-common.rg $dir >OUT"
)

# "path(n) :(word)..." or "path:n:..." as "path:n", sorted.
places() {
    perl -ne 'if (/^(.*?)\((\d+)\) :\(/ || /^([^:]*):(\d+):/) { print "$1:$2\n" }' "$1" | LC_ALL=C sort -u
}

declare -A times cpu cnt
echo "== $rounds rounds" >&2
for ((r = 1; r <= rounds; r++)); do
    for s in "${searches[@]}"; do
        name=${s%%|*}
        cmd=${s#*|}
        rm -f "$out/o"
        /usr/bin/time -f "%e %U %S" -o "$out/t" bash -c "${cmd//OUT/$out/o}" 2>/dev/null || true
        read -r wall user sys <"$out/t"
        times["$name"]+="$wall "
        cpu["$name"]+="$(echo "$user + $sys" | bc -l) "
        if [ "$r" = 1 ]; then
            places "$out/o" >"$out/places-${name%% *}"
            cnt["$name"]=$(wc -l <"$out/places-${name%% *}")
        fi
    done
    echo "   round $r done" >&2
done

echo
echo "Folder: $files files of about 2 KB in 100 sub-folders, $bytes bytes; 10 words (common); $(date -u +%F), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); medians of $rounds runs, page-cached."
echo
k=$(echo ${times["korvalen-cli"]} | tr ' ' '\n' | median)
kc=$(echo ${cpu["korvalen-cli"]} | tr ' ' '\n' | median)
echo "| search | median s | korvalen / this | CPU s (user+sys) | korvalen / this | hit lines | same lines |"
echo "|---|---:|---:|---:|---:|---:|:---:|"
for s in "${searches[@]}"; do
    name=${s%%|*}
    med=$(echo ${times["$name"]} | tr ' ' '\n' | median)
    c=$(echo ${cpu["$name"]} | tr ' ' '\n' | median)
    same=no
    cmp -s "$out/places-korvalen-cli" "$out/places-${name%% *}" && same=yes
    printf '| %s | %.3f | %.2f | %.3f | %.2f | %s | %s |\n' "$name" "$med" \
        "$(echo "$k / $med" | bc -l)" "$c" "$(echo "if ($c > 0) $kc / $c else 0" | bc -l)" \
        "${cnt["$name"]}" "$same"
done
