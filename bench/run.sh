#!/bin/bash
# The benchmark: korvalen-cli against GNU grep and ripgrep on one corpus.
#
#   bench/run.sh [--rounds N] [--scaling] [--big] [--ref] [CORPUS]
#
# Builds a Release korvalen-cli (build-fast/), builds the corpus when none is
# given (Debian's manpages-ja in code page 932 with CR LF, ~212 MB, cached in
# bench/corpus/), and times every search N times (default 5), alternating, one
# thread each (korvalen-cli -j1). Prints a table of medians with the ratios korvalen / peer and
# the hit-line count of each, then the peak memory of both scanners.
# --scaling adds a run over 20 and 200 MB (and 2 GB with --big; needs ~2 GB of
# disk); --ref adds the literal scanners (slow) for comparison.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${KORVALEN_BENCH_BUILD:-$root/build-fast}
rounds=5
scaling=0
big=0
ref=0
corpus=
while [ $# -gt 0 ]; do
    case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --scaling) scaling=1; shift ;;
    --big) big=1; scaling=1; shift ;;
    --ref) ref=1; shift ;;
    -h | --help) sed -n '2,14p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) corpus=$1; shift ;;
    esac
done

. "$here/lib.sh"
need_pkg rg ripgrep
need_pkg iconv libc-bin
need_pkg bc bc
[ -x /usr/bin/time ] || need_pkg /usr/bin/time time
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.sjis$'; then
    [ -d /usr/share/i18n/charmaps ] || need_pkg localedef locales
    localedef -f SHIFT_JIS -i ja_JP ja_JP.SJIS 2>/dev/null || true  # warns, still builds
fi

build_cli scan_bench

work=$here/corpus
mkdir -p "$work"
if [ -z "$corpus" ]; then
    corpus=$work/man-212.txt
    if [ ! -s "$corpus" ]; then
        [ -d /usr/share/man/ja ] || need_pkg /usr/share/man/ja manpages-ja
        echo "== corpus $corpus" >&2
        "$here/make_corpus.sh" "$corpus" 212
    fi
fi
size=$(stat -c %s "$corpus")

families="common rare 200"
for f in $families; do
    iconv -f UTF-8 -t CP932 "$here/words-$f.utf8.txt" >"$work/words-$f.sjis"
    # ripgrep wants byte patterns spelled as escapes
    perl -ne 'chomp; print "(?-u:", join("", map { sprintf("\\x%02X", ord) } split //), ")\n"' \
        "$work/words-$f.sjis" >"$work/words-$f.rg"
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# name|command (FAM is replaced by the family; the output goes to $out/name)
searches=(
    "korvalen|$cli -j1 -q -o \$OUT -W $work/words-FAM.sjis $corpus"
    "korvalen CRText|$cli -j1 -q --set CRText=1 -o \$OUT -W $work/words-FAM.sjis $corpus"
    "korvalen --by-line|$cli -j1 -q --by-line -o \$OUT -W $work/words-FAM.sjis $corpus"
    "grep -F -n, C|LC_ALL=C grep -F -n -f $work/words-FAM.sjis $corpus >\$OUT"
    "grep -F -n, ja_JP.SJIS|LC_ALL=ja_JP.SJIS grep -F -n -f $work/words-FAM.sjis $corpus >\$OUT"
    "rg -j1 -n, bytes|rg --no-config -j1 -n -f $work/words-FAM.rg $corpus >\$OUT"
)
if [ "$ref" = 1 ]; then
    searches+=("literal scanner (reference)|$build/bench/scan_bench --ref $work/words-FAM.sjis \$OUT $corpus >/dev/null")
fi

now() { date +%s.%N; }

declare -A times hits
echo "== $rounds rounds over $(basename "$corpus") ($((size / 1000000)) MB)" >&2
for ((r = 1; r <= rounds; r++)); do
    for f in $families; do
        for s in "${searches[@]}"; do
            name=${s%%|*}
            if [ "$name" = "literal scanner (reference)" ] && [ "$r" -gt 1 ]; then
                continue  # one round is enough, and it is slow
            fi
            cmd=${s#*|}
            cmd=${cmd//FAM/$f}
            OUT="$out/o"
            rm -f "$OUT"  # truncating the last one's output would be timed
            t0=$(now)
            OUT=$OUT bash -c "${cmd//\$OUT/$OUT}" 2>/dev/null || true
            t1=$(now)
            times["$f|$name"]+="$(echo "$t1 - $t0" | bc -l) "
            hits["$f|$name"]=$(wc -l <"$OUT")
        done
    done
    echo "   round $r done" >&2
done

echo
echo "Corpus: $(basename "$corpus"), $size bytes, $(wc -l <"$corpus") lines; $(date -u +%F), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); medians of $rounds runs, page-cached."
echo
for f in $families; do
    n=$(wc -l <"$work/words-$f.sjis")
    kmed=$(echo ${times["$f|korvalen"]} | tr ' ' '\n' | median)
    echo "### $n words ($f)"
    echo
    echo "| search | median s | korvalen / this | hit lines |"
    echo "|---|---:|---:|---:|"
    for s in "${searches[@]}"; do
        name=${s%%|*}
        med=$(echo ${times["$f|$name"]} | tr ' ' '\n' | median)
        ratio=$(echo "$kmed / $med" | bc -l)
        printf '| %s | %.3f | %.2f | %s |\n' "$name" "$med" "$ratio" "${hits["$f|$name"]}"
    done
    echo
done
med() { echo ${times["$1"]} | tr ' ' '\n' | median; }
ratio() { printf '%.2f' "$(echo "$(med "$1") / $(med "$2")" | bc -l)"; }
echo "### Ratios (korvalen, medians)"
echo
echo "| ratio | common | rare | 200 |"
echo "|---|---:|---:|---:|"
for pair in "CRText on / off|korvalen CRText|korvalen" "--by-line / in memory|korvalen --by-line|korvalen" \
    "korvalen / rg -j1 bytes|korvalen|rg -j1 -n, bytes" \
    "korvalen / grep ja_JP.SJIS|korvalen|grep -F -n, ja_JP.SJIS"; do
    IFS='|' read -r label a b <<<"$pair"
    printf '| %s | %s | %s | %s |\n' "$label" "$(ratio "common|$a" "common|$b")" \
        "$(ratio "rare|$a" "rare|$b")" "$(ratio "200|$a" "200|$b")"
done
echo
printf 'Family of 200 / family of 10 (korvalen, default options): %s\n\n' "$(ratio "200|korvalen" "common|korvalen")"

echo "### Peak memory (common words, /usr/bin/time -v)"
echo
echo "| scanner | max RSS KB |"
echo "|---|---:|"
for m in "" "--by-line"; do
    rss=$(/usr/bin/time -v "$cli" -j1 -q $m -o "$out/o" -W "$work/words-common.sjis" "$corpus" 2>&1 |
        awk -F: '/Maximum resident/ {gsub(/ /, "", $2); print $2}')
    printf '| %s | %s |\n' "${m:-in memory (default)}" "$rss"
done
echo

if [ "$scaling" = 1 ]; then
    echo "### Scaling (common words, medians of 3)"
    echo
    echo "| size MB | default s | MB/s | --by-line s | MB/s | max RSS --by-line KB |"
    echo "|---:|---:|---:|---:|---:|---:|"
    sizes="20 200"
    [ "$big" = 1 ] && sizes="$sizes 2000"
    for mb in $sizes; do
        file=$work/scale-$mb.txt
        if [ ! -s "$file" ]; then
            want=$((mb * 1000000))
            : >"$file"
            while [ "$(stat -c %s "$file")" -lt "$want" ]; do cat "$corpus" >>"$file"; done
            truncate -s "$want" "$file"
        fi
        bytes=$(stat -c %s "$file")
        cat "$file" >/dev/null
        row=()
        for m in "" "--by-line"; do
            ts=
            for r in 1 2 3; do
                rm -f "$out/o"
                t0=$(now)
                "$cli" -j1 -q $m -o "$out/o" -W "$work/words-common.sjis" "$file" 2>/dev/null || true
                t1=$(now)
                ts+="$(echo "$t1 - $t0" | bc -l) "
            done
            med=$(echo $ts | tr ' ' '\n' | median)
            row+=("$(printf '%.3f | %.0f' "$med" "$(echo "$bytes / 1000000 / $med" | bc -l)")")
        done
        rss=$(/usr/bin/time -v "$cli" -j1 -q --by-line -o "$out/o" -W "$work/words-common.sjis" "$file" 2>&1 |
            awk -F: '/Maximum resident/ {gsub(/ /, "", $2); print $2}')
        echo "| $mb | ${row[0]} | ${row[1]} | $rss |"
    done
    echo
fi
