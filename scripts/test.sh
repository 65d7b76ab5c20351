#!/usr/bin/env bash
# Builds and runs every test twice: a Release build, and a Debug build with
# AddressSanitizer and UndefinedBehaviorSanitizer. Then runs each fuzzer briefly
# when clang is present. Warnings are errors throughout.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test

jobs=$(nproc)
fuzz_seconds=${KORVALEN_FUZZ_SECONDS:-10}
export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1

step() { printf '\n=== %s ===\n' "$*"; }

step "Release build and tests"
# Every option stated: a folder that scripts/run.sh configured without tests is reused.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVALEN_WERROR=ON \
    -DKORVALEN_TESTS=ON -DKORVALEN_GUI=ON -DKORVALEN_SANITIZE=OFF -DKORVALEN_FUZZ=OFF \
    -DKORVALEN_BENCH=OFF >/dev/null
cmake --build build/release -j"$jobs"
ctest --test-dir build/release -j"$jobs" --timeout 600 --no-tests=error

step "Debian package from the Release build, checked unpacked"
scripts/package_test.sh build/release

step "Debug build with AddressSanitizer and UndefinedBehaviorSanitizer, and tests"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVALEN_WERROR=ON \
    -DKORVALEN_TESTS=ON -DKORVALEN_GUI=ON -DKORVALEN_SANITIZE=ON -DKORVALEN_FUZZ=OFF \
    -DKORVALEN_BENCH=OFF >/dev/null
cmake --build build/asan -j"$jobs"
supp="$PWD/tests/lsan.supp"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
[[ -f "$supp" ]] && export LSAN_OPTIONS="suppressions=$supp:print_suppressions=0"
ctest --test-dir build/asan -j"$jobs" --timeout 900 --no-tests=error
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

if command -v clang++ >/dev/null && compgen -G "fuzz/*_fuzz.cpp" >/dev/null; then
    step "Fuzzers (${fuzz_seconds} s each)"
    CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKORVALEN_GUI=OFF -DKORVALEN_TESTS=OFF -DKORVALEN_FUZZ=ON -DKORVALEN_WERROR=ON \
        -DKORVALEN_SANITIZE=OFF -DKORVALEN_BENCH=OFF \
        -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" \
        >/dev/null
    cmake --build build/fuzz -j"$jobs"
    # The fuzzers write many small temporary files: on tmpfs they run several
    # times as often in the same time.
    fuzz_tmp=
    for dir in /dev/shm "${XDG_RUNTIME_DIR:-}"; do
        if [ -n "$dir" ] && [ "$(stat -f -c %T "$dir" 2>/dev/null)" = tmpfs ] &&
            fuzz_tmp=$(mktemp -d -p "$dir" korvalen-fuzz.XXXXXX 2>/dev/null); then
            break
        fi
    done
    [ -n "$fuzz_tmp" ] && trap 'rm -rf "$fuzz_tmp"' EXIT
    echo "temporary files in ${fuzz_tmp:-${TMPDIR:-/tmp}}"
    for src in fuzz/*_fuzz.cpp; do
        name=$(basename "$src" .cpp)
        corpus="build/fuzz/corpus-$name"
        mkdir -p "$corpus"
        echo "--- $name"
        log="build/fuzz/$name.log"
        if ! TMPDIR=${fuzz_tmp:-${TMPDIR:-/tmp}} "build/fuzz/fuzz/$name" -max_total_time="$fuzz_seconds" \
            -artifact_prefix="build/fuzz/" "$corpus" >"$log" 2>&1; then
            tail -n 60 "$log"
            echo "fuzzer $name failed" >&2
            exit 1
        fi
        tail -n 1 "$log"
    done
else
    step "Fuzzers skipped: clang++ or fuzz targets not found"
fi

step "All tests passed"
