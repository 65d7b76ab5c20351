#!/bin/bash
# Per-file cost and memory of a folder walk: one folder of N empty files
# (default 1,000,000) searched by korvalen-cli (SearchFolders on), on one
# thread and with its default threads, against ripgrep the same two ways.
#
#   bench/empty_files.sh [--rounds N] [--files N] [--also NAME=CLI]...
#
# The folder is made under $TMPDIR (or /tmp) and deleted at the end. Every
# search runs N times (default 3), alternating; prints medians of the wall
# time, the CPU time (user + sys) and the peak memory (/usr/bin/time), ratios
# to korvalen-cli -j1, and the load average before and after (the machine may be
# shared: compare CPU times). --also adds another korvalen-cli (an older
# build, say) to the same rounds.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${KORVALEN_BENCH_BUILD:-$root/build-fast}
rounds=3
files=1000000
also=()
while [ $# -gt 0 ]; do
    case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --files) files=$2; shift 2 ;;
    --also) also+=("$2"); shift 2 ;;
    -h | --help) sed -n '2,14p' "$0"; exit 0 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
done
. "$here/lib.sh"
need_pkg rg ripgrep
need_pkg bc bc
need_pkg /usr/bin/time time

build_cli

tmp=$(mktemp -d "${TMPDIR:-/tmp}/korvalen-empty.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
dir=$tmp/folder
mkdir "$dir"
echo "== $files empty files in $dir" >&2
(cd "$dir" && seq -f 'f%07g.txt' 0 $((files - 1)) | xargs touch)

searches=("korvalen-cli -j1|$cli -j1 -q --set SearchFolders=1 -w abc -o $tmp/out.txt $dir")
for a in "${also[@]}"; do
    searches+=("${a%%=*} -j1|${a#*=} -j1 -q --set SearchFolders=1 -w abc -o $tmp/out.txt $dir")
done
searches+=("korvalen-cli (default threads)|$cli -q --set SearchFolders=1 -w abc -o $tmp/out.txt $dir")
searches+=("rg -j1|rg --no-config -j1 -c abc $dir"
    "rg (default threads)|rg --no-config -c abc $dir")

declare -A wall_s cpu_s rss_kb
load_before=$(load_now)
echo "== $rounds rounds (load $load_before)" >&2
for ((r = 1; r <= rounds; r++)); do
    for s in "${searches[@]}"; do
        timed "${s%%|*}" "${s#*|}"
    done
    echo "   round $r done" >&2
done

echo
echo "Folder: $files empty files; $(date -u +%F), $(nproc) cores, load $load_before before, $(load_now) after; medians of $rounds runs, page-cached."
echo
kc=$(median_of "${cpu_s[korvalen-cli -j1]}")
echo "| search | wall s | CPU s (user+sys) | korvalen / this (CPU) | peak memory MB |"
echo "|---|---:|---:|---:|---:|"
for s in "${searches[@]}"; do
    name=${s%%|*}
    c=$(median_of "${cpu_s[$name]}")
    printf '| %s | %.2f | %.2f | %.2f | %.1f |\n' "$name" "$(median_of "${wall_s[$name]}")" "$c" \
        "$(echo "if ($c > 0) $kc / $c else 0" | bc -l)" "$(echo "$(median_of "${rss_kb[$name]}") / 1024" | bc -l)"
done
