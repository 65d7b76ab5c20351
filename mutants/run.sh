#!/usr/bin/env bash
# Plants each fault of mutants/list.tsv in turn in a scratch copy of the tree,
# rebuilds it incrementally and runs the tests, then prints which test caught
# it. A tool for changing the test suite, not part of the test command.
#
#   mutants/run.sh [--tree DIR] [--build DIR] [NAME-GLOB...]
#
# --tree   the tree to copy (default: the repository this script is in), its
#          `git ls-files` files as they are on disk, uncommitted changes included
# --build  the build folder (default: build/release inside the scratch copy)
# Scratch copy, logs and table: build/mutants/ of the tree (so runs on several
# trees do not share a scratch copy).
# Exit status: 0 every mutant killed, 1 one survived or did not apply, 2 the
# unchanged tree does not build or pass.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
tree=$repo
build=
globs=()
while (($#)); do
    case $1 in
        --tree) tree=$(cd "$2" && pwd) || exit 2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        -h | --help) sed -n '2,14p' "$0" | cut -c3-; exit 0 ;;
        *) globs+=("$1"); shift ;;
    esac
done
work=$tree/build/mutants
src=$work/src
build=${build:-$src/build/release}
mkdir -p "$src" "$work/logs" && build=$(mkdir -p "$build" && cd "$build" && pwd) || exit 2
jobs=${JOBS:-2}
export QT_QPA_PLATFORM=offscreen
start=$SECONDS

# The scratch copy: only files whose content changed are written, so that the
# build after a refresh recompiles just those.
sync_tree() {
    local -A listed=()
    local f
    while IFS= read -r -d '' f; do
        [[ -f $tree/$f ]] || continue
        listed[$f]=1
        if ! cmp -s "$tree/$f" "$src/$f"; then
            mkdir -p "$(dirname "$src/$f")" && cp "$tree/$f" "$src/$f" || return 1
        fi
    done < <(git -C "$tree" ls-files -z --cached --others --exclude-standard)
    while IFS= read -r -d '' f; do
        f=${f#"$src"/}
        [[ -n ${listed[$f]:-} ]] || rm -f "$src/$f"
    done < <(find "$src" -path "$src/build" -prune -o -type f -print0)
}

# Replaces the one occurrence of $ORIG by $REPL in the file; a "⏎" in either
# stands for a line break. Exit status 3 when $ORIG is not there exactly once.
apply() {
    ORIG=$2 REPL=$3 perl -e '
        my ($f) = @ARGV;
        my ($o, $r) = map { my $s = $_; $s =~ s/\xE2\x8F\x8E/\n/g; $s } @ENV{qw(ORIG REPL)};
        open my $in, "<:raw", $f or exit 3;
        my $t = do { local $/; <$in> };
        close $in;
        my $at = index($t, $o);
        exit 3 if $at < 0 || index($t, $o, $at + 1) >= 0;
        substr($t, $at, length $o) = $r;
        open my $out, ">:raw", $f or exit 4;
        print $out $t or exit 4;
        close $out or exit 4;' "$1"
}

# The first test that did not pass in a ctest log.
first_failure() {
    grep -E 'Test +#[0-9]+: ' "$1" | grep -v -E ' Passed +[0-9.]+ sec$' | head -n 1 |
        sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/'
}

stop_flag=--stop-on-failure
ctest --help | grep -q -- --stop-on-failure || stop_flag=
run_tests() {
    ctest --test-dir "$build" -j"$jobs" $stop_flag --timeout 120 >"$1" 2>&1
}

# Restore of the file a mutant changed, also on Ctrl-C. The restored copy is
# newer than the mutant's objects, so the next build recompiles it (a cache hit
# with ccache); the original modification time would leave the mutant built in.
current=
restore() {
    if [[ -n $current ]]; then
        cmp -s "$work/original" "$src/$current" || cp "$work/original" "$src/$current"
        current=
    fi
}
trap 'restore; exit 130' INT TERM
trap restore EXIT

sync_tree || { echo "cannot copy $tree to $src" >&2; exit 2; }
if [[ ! -f $build/build.ninja ]]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Every mutant relinks the test programs; lld links faster than the default ld.
    command -v ld.lld >/dev/null && launcher+=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld)
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVALEN_WERROR=ON \
        -DKORVALEN_TESTS=ON -DKORVALEN_GUI=ON -DKORVALEN_SANITIZE=OFF -DKORVALEN_FUZZ=OFF \
        -DKORVALEN_BENCH=OFF "${launcher[@]}" >"$work/logs/configure.log" 2>&1 ||
        { echo "configure failed: $work/logs/configure.log" >&2; exit 2; }
fi
echo "clean tree: build and tests"
if ! cmake --build "$build" -j"$jobs" >"$work/logs/clean-build.log" 2>&1; then
    echo "the unchanged tree does not build: $work/logs/clean-build.log" >&2
    exit 2
fi
if ! run_tests "$work/logs/clean-test.log"; then
    echo "the unchanged tree fails its tests: $work/logs/clean-test.log" >&2
    exit 2
fi

table=$work/table.md
rows=()
declare -A count=()
while IFS=$'\t' read -r name file orig repl _; do
    [[ -z $name || $name == \#* ]] && continue
    if ((${#globs[@]})); then
        matched=
        for g in "${globs[@]}"; do
            # shellcheck disable=SC2053  # the glob is meant
            [[ $name == $g ]] && matched=1
        done
        [[ -n $matched ]] || continue
    fi
    area=${name%%-*}
    log=$work/logs/$name
    status=3
    if [[ -f $src/$file ]] && cp "$src/$file" "$work/original"; then
        current=$file
        apply "$src/$file" "$orig" "$repl"
        status=$?
    fi
    case $status in
        0)
            if ! cmake --build "$build" -j"$jobs" >"$log.build.log" 2>&1; then
                result="build fails" killer=
            elif run_tests "$log.test.log"; then
                result=SURVIVED killer=
            else
                result=killed killer=$(first_failure "$log.test.log")
            fi ;;
        3) result="does not apply" killer= ;;
        *) echo "cannot write $src/$file" >&2; exit 2 ;;
    esac
    restore
    count[$result]=$((${count[$result]:-0} + 1))
    rows+=("| $name | $area | $result | $killer |")
    printf '%-28s %-14s %s\n' "$name" "$result" "$killer"
done <"$here/list.tsv"

elapsed=$((SECONDS - start))
{
    echo "| mutant | area | result | killed by |"
    echo "|---|---|---|---|"
    printf '%s\n' "${rows[@]}"
    echo
    echo "${#rows[@]} mutants: ${count[killed]:-0} killed, ${count[SURVIVED]:-0} survived," \
        "${count[build fails]:-0} build fails, ${count[does not apply]:-0} do not apply;" \
        "$((elapsed / 60)) min $((elapsed % 60)) s"
} >"$table"
echo
cat "$table"
((${count[SURVIVED]:-0} + ${count[does not apply]:-0} == 0))
