# Shared by the benchmark scripts (sourced, not run).

# need_pkg COMMAND PACKAGE: installs PACKAGE when COMMAND is missing (as root),
# else says how and stops.
need_pkg() {
    if ! command -v "$1" >/dev/null 2>&1; then
        if [ "$(id -u)" = 0 ]; then
            DEBIAN_FRONTEND=noninteractive apt-get install -y "$2" >/dev/null
        else
            echo "$1 is missing: apt-get install -y $2" >&2
            exit 2
        fi
    fi
}

# build_cli [--no-bench] [TARGET...]: configures the Release build in $build
# of the sources in $root (no window, no tests; the benchmarks on unless
# --no-bench) and builds korvalen-cli and each TARGET; sets cli to its path.
build_cli() {
    local bench=-DKORVALEN_BENCH=ON
    if [ "${1:-}" = --no-bench ]; then
        bench=
        shift
    fi
    echo "== build (Release) in $build" >&2
    # shellcheck disable=SC2086  # no option at all when empty
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVALEN_GUI=OFF \
        -DKORVALEN_TESTS=OFF $bench >/dev/null
    cmake --build "$build" -j2 --target korvalen-cli "$@" >/dev/null
    cli=$build/cli/korvalen-cli
}

# median: the median of the numbers on standard input, one a line.
median() { sort -n | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else printf "%.4f\n", (a[NR/2]+a[NR/2+1])/2}'; }

# timed NAME COMMAND: runs COMMAND with bash -c under /usr/bin/time and adds
# its wall time, CPU time (user + sys) and peak memory (KB) to the caller's
# associative arrays wall_s, cpu_s and rss_kb under NAME, each a list of
# numbers separated by blanks (the caller declares them: declare -A wall_s ...).
timed() {
    local t
    t=$(mktemp)
    /usr/bin/time -f "%e %U %S %M" -o "$t" bash -c "$2" >/dev/null 2>&1 || true
    local wall user sys rss
    # The last line: a command that exits non-zero gets a line of its own first.
    read -r wall user sys rss < <(tail -n 1 "$t")
    rm -f "$t"
    wall_s["$1"]+="$wall "
    cpu_s["$1"]+="$(echo "$user + $sys" | bc -l) "
    rss_kb["$1"]+="$rss "
}

# median_of LIST: the median of a list of numbers separated by blanks.
median_of() { echo $1 | tr ' ' '\n' | median; }

# load_now: the machine's one-minute load average.
load_now() { cut -d' ' -f1 /proc/loadavg; }

# small_files SRC DIR N: N files of about 2 KB in DIR, the lines of the files
# under SRC in a fixed order dealt out round and round, 1/100 of them in each
# sub-folder (DIR exists).
small_files() {
    find "$1" -type f | LC_ALL=C sort | xargs cat | perl -e '
        my ($dir, $n) = @ARGV;
        my @lines = map { s/\r?\n\z//r . "\r\n" } <STDIN>;
        @lines = grep { length > 2 } @lines;
        my $per = int(($n + 99) / 100);
        my $i = 0;
        for my $f (0 .. $n - 1) {
            my $sub = sprintf "%s/d%02d", $dir, int($f / $per);
            mkdir $sub;
            open(my $o, ">:raw", sprintf("%s/f%06d.txt", $sub, $f)) or die;
            my $size = 0;
            while ($size < 2000) { my $l = $lines[$i++ % @lines]; print $o $l; $size += length $l; }
            close $o or die;
        }' "$2" "$3"
}

# big_workloads CORPUS DIR [2G]: in DIR, each made once: many/ (the files of
# CORPUS 19 times over in 19 folders, 665 files, ~188 MB), 187mb.txt (those
# joined in name order) and, with a third argument, 2gb.txt (that 11 times).
big_workloads() {
    local corpus=$1 work=$2 i
    mkdir -p "$work"
    if [ ! -f "$work/many/.done" ]; then
        echo "== $work/many" >&2
        rm -rf "$work/many"
        for i in $(seq -w 1 19); do
            mkdir -p "$work/many/$i"
            cp "$corpus"/*.txt "$work/many/$i/"
        done
        touch "$work/many/.done"
    fi
    if [ ! -s "$work/187mb.txt" ]; then
        find "$work/many" -name '*.txt' | LC_ALL=C sort | xargs cat >"$work/187mb.txt"
    fi
    if [ -n "${3:-}" ] && [ ! -s "$work/2gb.txt" ]; then
        echo "== $work/2gb.txt" >&2
        for i in $(seq 1 11); do cat "$work/187mb.txt"; done >"$work/2gb.txt"
    fi
}
