#!/bin/bash
# Words that almost match at every byte: korvalen-cli against grep -F and
# ripgrep on lines of one repeated character (a rule of ーーー or ＝＝＝ in a
# document is such a line).
#
#   bench/near_match.sh [--rounds N]
#
# Builds nothing: uses korvalen-cli of $KORVALEN_BENCH_BUILD (default
# build/release). Makes the inputs in a temporary folder: 12 and 24 lines of
# one million "a", and the words: an ordinary one, "a" x 39 + "b" and
# "a" x 9,999 + "b". Times each search N times (default 3), one thread each,
# and prints the medians, korvalen / grep, and 24 lines / 12 lines for each
# (about 2 when the time is linear in the input).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${KORVALEN_BENCH_BUILD:-$root/build/release}
rounds=3
while [ $# -gt 0 ]; do
    case $1 in
    --rounds) rounds=$2; shift 2 ;;
    -h | --help) sed -n '2,13p' "$0"; exit 0 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
done

. "$here/lib.sh"
need_pkg rg ripgrep
need_pkg bc bc
cli=$build/cli/korvalen-cli
[ -x "$cli" ] || { echo "no $cli: build it first" >&2; exit 2; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
python3 - "$tmp" <<'EOF'
import sys
d = sys.argv[1]
line = b"a" * 1000000 + b"\r\n"
for n in (12, 24):
    open(f"{d}/lines{n}.txt", "wb").write(line * n)
open(f"{d}/ordinary.txt", "wb").write(b"zebra\n")
open(f"{d}/near40.txt", "wb").write(b"a" * 39 + b"b\n")
open(f"{d}/near10k.txt", "wb").write(b"a" * 9999 + b"b\n")
EOF

# median SECONDS... of a command run $rounds times
time_of() {
    local t=()
    for _ in $(seq "$rounds"); do
        local s e
        s=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || true
        e=$(date +%s.%N)
        t+=("$(echo "$e - $s" | bc)")
    done
    printf '%s\n' "${t[@]}" | sort -n | sed -n "$(((rounds + 1) / 2))p"
}

ratio() { echo "scale=2; $1 / $2" | bc; }

printf '| words | CRText | lines | korvalen s | grep -F s | rg -F s | korvalen/grep | 24/12 |\n'
printf '|---|---|---:|---:|---:|---:|---:|---:|\n'
for w in ordinary near40 near10k; do
    for cr in 0 1; do
        prev=
        for n in 12 24; do
            k=$(time_of "$cli" -q -o "$tmp/out.txt" --set FileOverWrite=1 --set CRText=$cr \
                -W "$tmp/$w.txt" "$tmp/lines$n.txt")
            g=$(time_of grep -F -f "$tmp/$w.txt" "$tmp/lines$n.txt")
            r=$(time_of rg -j1 -F -f "$tmp/$w.txt" "$tmp/lines$n.txt")
            scale=-
            [ -n "$prev" ] && scale=$(ratio "$k" "$prev")
            printf '| %s | %s | %s | %.3f | %.3f | %.3f | %s | %s |\n' "$w" "$cr" "$n" "$k" "$g" "$r" \
                "$(ratio "$k" "$g")" "$scale"
            prev=$k
        done
    done
done
