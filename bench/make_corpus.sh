#!/bin/sh
# Builds the benchmark corpus: Debian's manpages-ja as code page 932 text with
# CR LF line ends, repeated to the size asked for (default 212 MB).
#   bench/make_corpus.sh OUT [MEGABYTES]
set -eu
out=$1
mb=${2:-212}
src=/usr/share/man/ja
if [ ! -d "$src" ]; then
    echo "manpages-ja is missing: apt-get install -y manpages-ja" >&2
    exit 2
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# One pass over the pages in a fixed order, so every build gives the same bytes.
find "$src" -type f -name '*.gz' | LC_ALL=C sort | while read -r f; do
    zcat "$f"
done | iconv -c -f UTF-8 -t CP932 | sed 's/\r$//; s/$/\r/' >"$tmp/one"
one=$(stat -c %s "$tmp/one")
want=$((mb * 1000 * 1000))
: >"$tmp/all"
size=0
while [ "$size" -lt "$want" ]; do
    cat "$tmp/one" >>"$tmp/all"
    size=$((size + one))
done
truncate -s "$want" "$tmp/all"
# Cut back to the last whole line so the file ends in CR LF.
perl -e 'open(my $f, "+<", $ARGV[0]) or die; my $n = -s $f; my $k = $n < 4096 ? $n : 4096;
    seek($f, $n - $k, 0); read($f, my $t, $k); my $i = rindex($t, "\n");
    truncate($f, $n - $k + $i + 1) if $i >= 0;' "$tmp/all"
mv "$tmp/all" "$out"
