#!/bin/bash
# The cost of UTF-8 input: the benchmark corpus searched as code page 932 with
# InputEncoding off and on, and the same corpus converted to UTF-8 with
# InputEncoding on, both scanners, alternating, medians of N rounds.
#
#   bench/utf8.sh [--rounds N] [CORPUS]
#
# CORPUS defaults to bench/corpus/man-212.txt (bench/run.sh builds it). The
# UTF-8 copy is cached beside it. Every row also shows its hit-line count and
# whether its hit lines (paths aside) are those of the code page 932 search.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${KORVALEN_BENCH_BUILD:-$root/build-utf8-rel}
rounds=5
corpus=
while [ $# -gt 0 ]; do
    case $1 in
    --rounds) rounds=$2; shift 2 ;;
    -h | --help) sed -n '2,10p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) corpus=$1; shift ;;
    esac
done
corpus=${corpus:-$here/corpus/man-212.txt}
if [ ! -s "$corpus" ]; then
    echo "no corpus at $corpus: run bench/run.sh once, or name one" >&2
    exit 2
fi
command -v bc >/dev/null || { echo "bc is missing: apt-get install -y bc" >&2; exit 2; }

. "$here/lib.sh"
build_cli --no-bench

utf8=${corpus%.txt}.utf8.txt
if [ ! -s "$utf8" ] || [ "$utf8" -ot "$corpus" ]; then
    echo "== UTF-8 copy $utf8" >&2
    iconv -f CP932 -t UTF-8 "$corpus" >"$utf8.tmp"
    mv "$utf8.tmp" "$utf8"
fi
words=$(mktemp -d)
out=$(mktemp -d)
trap 'rm -rf "$words" "$out"' EXIT
for f in common rare; do
    iconv -f UTF-8 -t CP932 "$here/words-$f.utf8.txt" >"$words/$f.sjis"
done
# Names of one length: hit lines are cut at OutputStrLength bytes, path included.
ln -s "$corpus" "$words/sjis.txt"
ln -s "$utf8" "$words/utf8.txt"

# name|file|options
rows=(
    "CP932, InputEncoding=0|$words/sjis.txt|--set InputEncoding=0"
    "CP932, InputEncoding=1|$words/sjis.txt|--set InputEncoding=1"
    "UTF-8, InputEncoding=1|$words/utf8.txt|--set InputEncoding=1"
)
now() { date +%s.%N; }

declare -A times hits same
for ((r = 1; r <= rounds; r++)); do
    for f in common rare; do
        for mode in "" --by-line; do
            for row in "${rows[@]}"; do
                IFS='|' read -r name file opts <<<"$row"
                key="$f|$mode|$name"
                rm -f "$out/o"
                t0=$(now)
                # shellcheck disable=SC2086
                "$cli" -q $mode $opts -o "$out/o" -W "$words/$f.sjis" "$file" 2>/dev/null || true
                t1=$(now)
                times[$key]+="$(echo "$t1 - $t0" | bc -l) "
                if [ "$r" = 1 ]; then
                    hits[$key]=$(wc -l <"$out/o")
                    # Hit lines without their paths, against the first row's.
                    sed "s|^$file||" "$out/o" | md5sum | cut -d' ' -f1 >"$out/sum"
                    [ "$name" = "${rows[0]%%|*}" ] && cp "$out/sum" "$out/ref-$f$mode"
                    cmp -s "$out/sum" "$out/ref-$f$mode" && same[$key]=yes || same[$key]=NO
                fi
            done
        done
    done
    echo "   round $r done" >&2
done

echo
echo "Corpus: $(basename "$corpus") $(stat -c %s "$corpus") bytes as code page 932," \
    "$(stat -c %s "$utf8") bytes as UTF-8; $(date -u +%F), $(nproc) cores;" \
    "medians of $rounds runs, page-cached."
for f in common rare; do
    for mode in "" --by-line; do
        ref=$(echo ${times["$f|$mode|${rows[0]%%|*}"]} | tr ' ' '\n' | median)
        echo
        echo "### $(wc -l <"$words/$f.sjis") words ($f), scanner: ${mode:-in memory}"
        echo
        echo "| input | median s | / CP932 off | hit lines | same hits |"
        echo "|---|---|---|---|---|"
        for row in "${rows[@]}"; do
            name=${row%%|*}
            key="$f|$mode|$name"
            med=$(echo ${times[$key]} | tr ' ' '\n' | median)
            printf "| %s | %.3f | %.2fx | %s | %s |\n" "$name" "$med" \
                "$(echo "$med / $ref" | bc -l)" "${hits[$key]}" "${same[$key]}"
        done
    done
done
