#!/bin/bash
# Stop latency: korvalen-cli is sent SIGINT (the Stop command) part-way
# through a run, and the time from the signal to its exit is taken.
#
#   bench/stop.sh [--rounds N] [--no-2g] [--work DIR] [--threads "1 2 4"]
#
# Workloads as bench/threads.sh makes them in DIR (default
# /tmp/korvalen-threads): the 665 files and the 2 GB file. For each workload
# and thread count the whole run is timed once; each round then signals a run
# at a point between a tenth and a half of that time (spread over the
# rounds). Prints the medians and the largest of the latencies, and counts the
# rounds where the run had already ended (not counted) or did not exit 130.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${KORVALEN_BENCH_BUILD:-$root/build-fast}
rounds=9
two_gb=1
work=/tmp/korvalen-threads
threads="1 2 4"
while [ $# -gt 0 ]; do
    case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --no-2g) two_gb=0; shift ;;
    --work) work=$2; shift 2 ;;
    --threads) threads=$2; shift 2 ;;
    -h | --help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
done
. "$here/lib.sh"
need_pkg iconv libc-bin
need_pkg bc bc

cd "$root"
corpus=../shared/corpus/text
[ -d "$corpus" ] || { echo "no $corpus next to the project" >&2; exit 2; }
build_cli --no-bench
big_workloads "$corpus" "$work" $([ "$two_gb" = 1 ] && echo 2g)
iconv -f UTF-8 -t CP932 "$here/words-three.utf8.txt" >"$work/words.sjis"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# stop_bench NAME FILE...
stop_bench() {
    local name=$1 j r s e whole at lat status late bad
    shift
    for j in $threads; do
        local run=("$cli" -q --set FileSeparate=0 -W "$work/words.sjis" -j "$j" -o "$out/o" "$@")
        s=$EPOCHREALTIME
        "${run[@]}" 2>/dev/null || true
        e=$EPOCHREALTIME
        whole=$(echo "$e - $s" | bc -l)
        local lats=()
        late=0
        bad=0
        local spread=$((rounds > 1 ? rounds - 1 : 1))
        for ((r = 0; r < rounds; r++)); do
            at=$(echo "$whole * (0.1 + 0.4 * $r / $spread)" | bc -l)
            rm -f "$out/o"
            "${run[@]}" 2>/dev/null &
            local pid=$!
            sleep "$at"
            s=$EPOCHREALTIME
            if ! kill -INT "$pid" 2>/dev/null; then
                late=$((late + 1))
                wait "$pid" || true
                continue
            fi
            status=0
            wait "$pid" || status=$?
            e=$EPOCHREALTIME
            [ "$status" = 130 ] || { bad=$((bad + 1)); continue; }
            lats+=("$(echo "($e - $s) * 1000" | bc -l)")
        done
        if [ ${#lats[@]} -eq 0 ]; then
            printf '| %s | %s | %.3f | - | - | %d | %d |\n' "$name" "$j" "$whole" "$late" "$bad"
            continue
        fi
        printf '| %s | %s | %.3f | %.1f | %.1f | %d | %d |\n' "$name" "$j" "$whole" \
            "$(printf '%s\n' "${lats[@]}" | median)" \
            "$(printf '%s\n' "${lats[@]}" | sort -n | tail -n 1)" "$late" "$bad"
    done
}

echo "load $(load_now), $rounds rounds"
echo
echo "| workload | threads | whole run s | stop median ms | stop most ms | ended first | not 130 |"
echo "|---|---:|---:|---:|---:|---:|---:|"
mapfile -t many < <(find "$work/many" -name '*.txt' | LC_ALL=C sort)
stop_bench "665 files" "${many[@]}"
[ "$two_gb" = 1 ] && stop_bench "one file of 2 GB" "$work/2gb.txt"
echo
echo "load $(load_now)"
