#!/bin/bash
# Large word lists and many small files: korvalen-cli against ripgrep and GNU grep.
#
#   bench/words_files.sh [--rounds N] [--timeout S] [TEXT]
#
# TEXT is code page 932 text, a file or a folder of .txt files (default:
# ../shared/corpus/text (relative to the project root) when it exists, else
# 20 MB of bench/make_corpus.sh).
# Builds a Release korvalen-cli (build-fast/) and, in bench/corpus/wf/ (never
# committed), word lists of 1, 200, 5,000 and 100,000 words (distinct runs of
# two to four double-byte characters of TEXT, in a fixed pseudo-random order)
# and 50,000 files of about 2 KB cut from TEXT at line ends. Then times,
# alternating, N rounds (default 3), one thread each:
#   korvalen-cli (default options, FileSeparate=0 so that every line is a hit),
#   rg -j1 -F on UTF-8 copies of the text and the words (rg refuses code page
#   932 patterns with -F), rg -j1 with the words as byte patterns on the text
#   itself, and grep -F in the C locale,
# over TEXT as one file with each list, the 100,000 words over an empty file
# (the set-up alone), 5,000 words over 4,000 small files and 200 words over
# 50,000 small files. Prints medians of the wall-clock and the CPU time (user
# + system), ratios, and the hit lines of each search (they should agree). A
# search that runs longer than S seconds (default 60) is cut off.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${KORVALEN_BENCH_BUILD:-$root/build-fast}
rounds=3
limit=60
text=
while [ $# -gt 0 ]; do
    case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    -h | --help) sed -n '2,22p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) text=$1; shift ;;
    esac
done

. "$here/lib.sh"
need_pkg rg ripgrep
need_pkg perl perl
need_pkg bc bc
[ -x /usr/bin/time ] || need_pkg /usr/bin/time time

build_cli --no-bench

work=$here/corpus/wf
mkdir -p "$work"
if [ -z "$text" ]; then
    if [ -d "$root/../shared/corpus/text" ]; then
        text=$root/../shared/corpus/text
    else
        text=$here/corpus/man-20.txt
        if [ ! -s "$text" ]; then
            [ -d /usr/share/man/ja ] || need_pkg /usr/share/man/ja manpages-ja
            "$here/make_corpus.sh" "$text" 20
        fi
    fi
fi
# The corpus is rebuilt when TEXT changes.
stamp="$(cd "$(dirname "$text")" && pwd)/$(basename "$text")"
if [ "$(cat "$work/source" 2>/dev/null)" != "$stamp" ]; then
    echo "== corpus from $text" >&2
    rm -rf "$work" && mkdir -p "$work"
    if [ -d "$text" ]; then
        find "$text" -maxdepth 1 -type f -name '*.txt' -print0 | LC_ALL=C sort -z | xargs -0 cat >"$work/text.sjis"
    else
        cp "$text" "$work/text.sjis"
    fi
    # Words, small files, and UTF-8 copies of both for rg -F (Encode's cp932
    # converts the words and the text alike).
    perl -e '
use strict; use warnings; use Digest::MD5 qw(md5); use Encode qw(decode encode);
my $w = $ARGV[0];
open(my $in, "<:raw", "$w/text.sjis") or die; local $/; my $t = <$in>; close $in;
sub u8 { encode("UTF-8", decode("cp932", $_[0])) }
sub put { my ($path, $bytes) = @_; open(my $o, ">:raw", $path) or die "$path: $!"; print $o $bytes; close $o or die; }
put("$w/text.u8", u8($t));
my %seen;
while ($t =~ /((?:[\x81-\x9F\xE0-\xFC][\x40-\x7E\x80-\xFC])+)/g) {
    my $run = $1; my $n = length($run) / 2;
    for (my $i = 0; $i + 2 <= $n; $i++) {
        my $len = 2 + ($i % 3); $len = $n - $i if $len > $n - $i;
        $seen{substr($run, 2 * $i, 2 * $len)} = 1;
    }
    last if keys(%seen) >= 400000;
}
my @w = map { $_->[1] } sort { $a->[0] cmp $b->[0] } map { [md5($_), $_] } keys %seen;
for my $count (1, 200, 5000, 100000) {
    my @some = @w[0 .. ($count <= @w ? $count : scalar @w) - 1];
    put("$w/words-$count.sjis", join("", map { "$_\n" } @some));
    put("$w/words-$count.u8", join("", map { u8($_) . "\n" } @some));
    # rg wants byte patterns spelled as escapes
    put("$w/words-$count.rg", join("", map { "(?-u:" . join("", map { sprintf("\\x%02X", ord) } split //) . ")\n" } @some));
}
mkdir "$w/s"; mkdir "$w/u";
my ($pos, $len) = (0, length $t);
for my $i (0 .. 49999) {
    my $end = $pos + 2048; $end = $len if $end > $len;
    my $nl = index($t, "\n", $end); $end = $nl < 0 ? $len : $nl + 1;
    my $piece = substr($t, $pos, $end - $pos);
    put(sprintf("%s/s/%05d", $w, $i), $piece);
    put(sprintf("%s/u/%05d", $w, $i), u8($piece));
    $pos = $end >= $len ? 0 : $end;
}' "$work"
    : >"$work/empty.sjis"
    echo "$stamp" >"$work/source"
fi
cd "$work"
mapfile -t small < <(cd s && LC_ALL=C ls | sed 's|^|s/|')
mapfile -t small_u8 < <(cd u && LC_ALL=C ls | sed 's|^|u/|')
words_made=$(wc -l <words-100000.sjis | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta')

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

peers=("korvalen" "rg -j1 -F, UTF-8" "rg -j1, byte patterns" "grep -F, C")
# case: words|inputs (one, empty, small4000, small50000)
cases=("1|one" "200|one" "5000|one" "100000|one" "100000|empty" "5000|small4000" "200|small50000")

inputs() {  # case-input peer -> the file names
    local utf8=0
    [ "$2" = "rg -j1 -F, UTF-8" ] && utf8=1
    case $1 in
    one) [ $utf8 = 1 ] && echo text.u8 || echo text.sjis ;;
    empty) echo empty.sjis ;;
    small4000) [ $utf8 = 1 ] && printf '%s\n' "${small_u8[@]:0:4000}" || printf '%s\n' "${small[@]:0:4000}" ;;
    small50000) [ $utf8 = 1 ] && printf '%s\n' "${small_u8[@]}" || printf '%s\n' "${small[@]}" ;;
    esac
}

declare -A wall cpu hits
run() {  # words input peer
    local n=$1 input=$2 peer=$3 key="$1|$2|$3"
    local -a files cmd
    mapfile -t files < <(inputs "$input" "$peer")
    case $peer in
    korvalen) cmd=("$cli" -q --set FileSeparate=0 -o "$out/hits" -W "words-$n.sjis") ;;
    "rg -j1 -F, UTF-8") cmd=(rg --no-config -j1 -a -n -F -f "words-$n.u8") ;;
    "rg -j1, byte patterns") cmd=(rg --no-config -j1 -a -n --regex-size-limit 1G --dfa-size-limit 1G -f "words-$n.rg") ;;
    "grep -F, C") cmd=(env LC_ALL=C grep -a -n -F -f "words-$n.sjis") ;;
    esac
    if [ "${wall[$key]:-}" = cut ]; then
        return  # cut off in an earlier round
    fi
    rm -f "$out/hits"
    local status=0
    timeout "$limit" /usr/bin/time -f '%e %U %S' -o "$out/time" "${cmd[@]}" "${files[@]}" \
        >"$out/stdout" 2>/dev/null || status=$?
    if [ "$status" = 124 ]; then
        wall[$key]=cut
        return
    fi
    [ "$peer" = korvalen ] || mv "$out/stdout" "$out/hits"
    read -r e u s < <(tail -n 1 "$out/time")  # after "Command exited with ..."
    wall[$key]+="$e "
    cpu[$key]+="$(echo "$u + $s" | bc -l) "
    hits[$key]=$(wc -l <"$out/hits")
}

echo "== $rounds rounds" >&2
for ((r = 1; r <= rounds; r++)); do
    for c in "${cases[@]}"; do
        for p in "${peers[@]}"; do
            run "${c%%|*}" "${c#*|}" "$p"
        done
    done
    echo "   round $r done" >&2
done

median() { tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else printf "%.4f\n", (a[NR/2]+a[NR/2+1])/2}'; }
cell() {  # key -> "wall s (cpu s)"
    if [ "${wall[$1]}" = cut ]; then
        printf '> %s s' "$limit"
    else
        printf '%.3f s (%.3f)' "$(echo ${wall[$1]} | median)" "$(echo ${cpu[$1]} | median)"
    fi
}
ratio() {  # table key-a key-b -> wall ratio (cpu ratio)
    if [ "${wall[$1]}" = cut ] || [ "${wall[$2]}" = cut ]; then
        printf -- '-'
        return
    fi
    printf '%.2f (%.2f)' "$(echo "$(echo ${wall[$1]} | median) / $(echo ${wall[$2]} | median)" | bc -l)" \
        "$(echo "$(echo ${cpu[$1]} | median) / ($(echo ${cpu[$2]} | median) + 0.0005)" | bc -l)"
}

label() {
    case $1 in
    "1|one") echo "1 word" ;;
    "200|one") echo "200 words" ;;
    "5000|one") echo "5,000 words" ;;
    "100000|one") echo "$words_made words" ;;
    "100000|empty") echo "set-up only: $words_made words, empty file" ;;
    "5000|small4000") echo "5,000 words, 4,000 small files" ;;
    "200|small50000") echo "200 words, 50,000 small files" ;;
    esac
}

echo
echo "Text: $(basename "$text"), $(stat -c %s text.sjis) bytes, $(wc -l <text.sjis) lines; small files: $(du -sb --apparent-size s | cut -f1) bytes in 50,000; $(date -u +%F), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1 /proc/loadavg); medians of $rounds rounds, page-cached. Each cell: wall-clock (CPU user + system)."
echo
printf '| search |'
for p in "${peers[@]}"; do printf ' %s |' "$p"; done
echo
printf '|---|'
for p in "${peers[@]}"; do printf -- '---:|'; done
echo
for c in "${cases[@]}"; do
    printf '| %s |' "$(label "$c")"
    for p in "${peers[@]}"; do printf ' %s |' "$(cell "$c|$p")"; done
    echo
done
echo
echo "| search | hit lines: korvalen / rg -F / rg bytes / grep | korvalen / rg -j1 -F | korvalen / rg -j1 bytes | korvalen / grep -F |"
echo "|---|---:|---:|---:|---:|"
for c in "${cases[@]}"; do
    printf '| %s | %s / %s / %s / %s | %s | %s | %s |\n' "$(label "$c")" \
        "${hits[$c|korvalen]:--}" "${hits[$c|rg -j1 -F, UTF-8]:--}" \
        "${hits[$c|rg -j1, byte patterns]:--}" "${hits[$c|grep -F, C]:--}" \
        "$(ratio "$c|korvalen" "$c|rg -j1 -F, UTF-8")" \
        "$(ratio "$c|korvalen" "$c|rg -j1, byte patterns")" \
        "$(ratio "$c|korvalen" "$c|grep -F, C")"
done
echo
echo "Ratios: wall-clock (CPU). Hit lines should agree; a search cut off shows none."
