#!/bin/bash
# Threads: korvalen-cli on one and on every core against ripgrep with its
# default threads and `cat FILE > /dev/null`, side by side in one run.
#
#   bench/threads.sh [--rounds N] [--no-2g] [--work DIR] [--base CLI]
#
# --base: another build's korvalen-cli (say, of the commit before a change),
# timed with -j1 beside this one's.
# Workloads, built once in DIR (default /tmp/korvalen-threads) from
# ../shared/corpus/text (35 files, code page 932):
#   many    the corpus 19 times over in 19 folders (665 files, ~188 MB)
#   folder  100,000 files of about 2 KB cut at line ends (SearchFolders=1)
#   187mb   the 665 files joined into one
#   2gb     the 187 MB file 11 times over (skipped with --no-2g)
# Each search runs N times (default 5), alternating, page-cached, output to a
# file; prints medians of wall and CPU time, the ratios, and the hit lines
# (checked to be the same for every korvalen run). "taskset 0" pins a run to
# one core, "taskset 0,1" to two: the scaling.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${KORVALEN_BENCH_BUILD:-$root/build-fast}
rounds=5
two_gb=1
work=/tmp/korvalen-threads
base_cli=
while [ $# -gt 0 ]; do
    case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --no-2g) two_gb=0; shift ;;
    --work) work=$2; shift 2 ;;
    --base) base_cli=$2; shift 2 ;;
    -h | --help) sed -n '2,19p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) echo "no corpus argument: the corpus is ../shared/corpus/text" >&2; exit 2 ;;
    esac
done
. "$here/lib.sh"
need_pkg rg ripgrep
need_pkg iconv libc-bin
need_pkg perl perl
need_pkg bc bc
need_pkg taskset util-linux
need_pkg /usr/bin/time time

cd "$root"
corpus=../shared/corpus/text
[ -d "$corpus" ] || { echo "no $corpus next to the project" >&2; exit 2; }

build_cli

big_workloads "$corpus" "$work" $([ "$two_gb" = 1 ] && echo 2g)
if [ ! -f "$work/folder/.done" ]; then
    echo "== $work/folder" >&2
    rm -rf "$work/folder"
    mkdir -p "$work/folder"
    small_files "$corpus" "$work/folder" 100000
    touch "$work/folder/.done"
fi

iconv -f UTF-8 -t CP932 "$here/words-three.utf8.txt" >"$work/words.sjis"
perl -ne 'chomp; print "(?-u:", join("", map { sprintf("\\x%02X", ord) } split //), ")\n"' \
    "$work/words.sjis" >"$work/words.rg"
words=$work/words.sjis
rgw="rg --no-config -n --no-ignore --hidden -f $work/words.rg"
kv="$cli -q --set FileSeparate=0 -W $words"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# bench NAME TARGET SEARCH...: SEARCH is "label|command" with OUT for the output.
bench() {
    local name=$1 target=$2
    shift 2
    declare -A times cpu cnt
    local s label cmd r wall user sys t0 t1
    echo "== $name: $rounds rounds" >&2
    for ((r = 1; r <= rounds; r++)); do
        for s in "$@"; do
            label=${s%%|*}
            cmd=${s#*|}
            rm -f "$out/o"
            t0=$EPOCHREALTIME
            /usr/bin/time -f "%e %U %S" -o "$out/t" bash -c "${cmd//OUT/$out/o}" 2>/dev/null || true
            t1=$EPOCHREALTIME
            read -r wall user sys <"$out/t"
            # time(1) counts in steps of 0.01 s: the wall time by the shell's clock.
            wall=$(echo "$t1 - $t0" | bc -l)
            times["$label"]+="$wall "
            cpu["$label"]+="$(echo "$user + $sys" | bc -l) "
            [ "$r" = 1 ] && cnt["$label"]=$( [ -s "$out/o" ] && grep -c . "$out/o" || echo 0)
        done
    done
    echo
    echo "### $name ($target)"
    echo
    echo "| search | wall s | CPU s | hit lines |"
    echo "|---|---:|---:|---:|"
    declare -A med
    for s in "$@"; do
        label=${s%%|*}
        med["$label"]=$(echo "${times[$label]}" | tr ' ' '\n' | grep . | median)
        printf '| %s | %.3f | %.3f | %s |\n' "$label" "${med[$label]}" \
            "$(echo "${cpu[$label]}" | tr ' ' '\n' | grep . | median)" "${cnt[$label]}"
    done
    local base="korvalen, every core"
    echo
    for s in "$@"; do
        label=${s%%|*}
        [ "$label" = "$base" ] && continue
        printf -- '- %s / %s: %.2f\n' "$base" "$label" "$(echo "${med[$base]} / ${med[$label]}" | bc -l)"
    done
    local k=""
    for s in "$@"; do
        label=${s%%|*}
        case $label in korvalen*) [ -z "$k" ] && k=${cnt[$label]}
            [ "${cnt[$label]}" = "$k" ] || echo "- HIT LINES DIFFER: $label" ;;
        esac
    done
}

searches() {  # ARGS: what korvalen and rg read; what cat reads (or nothing)
    local in=$1 cat_in=$2 set=${3:-}
    echo "korvalen, every core|$kv $set -o OUT $in"
    echo "korvalen -j1|$kv $set -j1 -o OUT $in"
    [ -n "$base_cli" ] && echo "korvalen -j1, base|${kv/#$cli/$base_cli} $set -j1 -o OUT $in" || true
    echo "korvalen, taskset 0|taskset -c 0 $kv $set -o OUT $in"
    echo "korvalen, taskset 0,1|taskset -c 0,1 $kv $set -o OUT $in"
    echo "rg, default threads|$rgw $in >OUT"
    echo "rg, taskset 0|taskset -c 0 $rgw $in >OUT"
    [ -n "$cat_in" ] && echo "cat > /dev/null|cat $cat_in >/dev/null" || true
}

many=$(find "$work/many" -name '*.txt' | LC_ALL=C sort | tr '\n' ' ')
mapfile -t s1 < <(searches "$many" "$many")
bench "665 files" "$(du -sh "$work/many" | cut -f1)" "${s1[@]}"
mapfile -t s2 < <(searches "$work/folder" "" "--set SearchFolders=1 --set FolderFilter=")
bench "100,000 files of 2 KB" "SearchFolders=1" "${s2[@]}"
mapfile -t s3 < <(searches "$work/187mb.txt" "$work/187mb.txt")
bench "one file of 187 MB" "$(du -sh "$work/187mb.txt" | cut -f1)" "${s3[@]}"
if [ "$two_gb" = 1 ]; then
    mapfile -t s4 < <(searches "$work/2gb.txt" "$work/2gb.txt")
    bench "one file of 2 GB" "$(du -sh "$work/2gb.txt" | cut -f1)" "${s4[@]}"
fi
