#!/usr/bin/env bash
# Builds the Debian packages from a Release build folder and checks each:
# its files, its dependencies (korvalen-cli without Qt, korvalen on the same
# korvalen-cli), its description fields, hardening of the programs, and
# lintian (no errors). Then, unpacked together into a temporary root: the
# programs, the help file's place, the desktop entry, AppStream, man pages
# and completion.
# Usage: scripts/package_test.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen

fail() { echo "package: $*" >&2; exit 1; }

rm -f "$build"/*korvalen*.deb
(cd "$build" && cpack -G DEB >/dev/null 2>&1) || fail "cpack failed"
version=$(sed -n 's/^project(Korvalen VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)-1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

deb() { echo "$build/${1}_${version}_$2.deb"; }
arch=$(dpkg --print-architecture)
declare -A debs=([korvalen-cli]=$(deb korvalen-cli "$arch") [korvalen]=$(deb korvalen "$arch")
                 [vim-korvalen]=$(deb vim-korvalen all) [elpa-korvalen]=$(deb elpa-korvalen all))
field() { dpkg-deb -f "${debs[$1]}" "$2"; }
files() { dpkg-deb -c "${debs[$1]}" | awk '{print $6}' | sed 's|^\./|/|' | grep -v '/$' | sort; }

# What each package holds: exactly these files.
share=/usr/share
expect_files() {  # package, files
    local package=$1; shift
    [[ -f ${debs[$package]} ]] || fail "no package $package"
    local want got
    want=$(printf '%s\n' "$@" /usr/share/doc/"$package"/{README.md,changelog.Debian.gz,copyright} |
        sort)
    got=$(files "$package")
    [[ $got == "$want" ]] || fail "$package holds: $(diff <(echo "$want") <(echo "$got") || true)"
}
icons=()
for size in 16 22 24 32 48 64 128 256; do icons+=("$share/icons/hicolor/${size}x$size/apps/korvalen.png"); done
expect_files korvalen-cli /usr/bin/korvalen-cli $share/man/man1/korvalen-cli.1.gz \
    $share/bash-completion/completions/korvalen-cli
expect_files korvalen /usr/bin/korvalen $share/korvalen/korvalen.html \
    $share/man/man1/korvalen.1.gz $share/applications/korvalen.desktop \
    $share/metainfo/org.example.korvalen.metainfo.xml \
    $share/icons/hicolor/scalable/apps/korvalen.svg "${icons[@]}"
expect_files vim-korvalen $share/vim/vimfiles/plugin/korvalen.vim \
    $share/vim/vimfiles/ftdetect/korvalen.vim
expect_files elpa-korvalen $share/emacs/site-lisp/korvalen.el

# Dependencies: the command needs ICU, not Qt; the window needs the same command.
cli_depends=$(field korvalen-cli Depends)
[[ $cli_depends == *libicu* && $cli_depends != *qt* ]] || fail "korvalen-cli depends: $cli_depends"
[[ $(field korvalen Depends) == "korvalen-cli (= $version), "*libqt6widgets6* ]] ||
    fail "korvalen depends: $(field korvalen Depends)"
for package in vim-korvalen elpa-korvalen; do
    [[ $(field $package Architecture) == all && -z $(field $package Depends) ]] ||
        fail "$package: $(field $package Architecture) $(field $package Depends)"
done
# English in Description, the Japanese paragraph in Description-ja.
for package in korvalen-cli korvalen; do
    field $package Description | LC_ALL=C grep -q '[^ -~]' && fail "$package: Japanese in Description"
    [[ $(field $package Description-ja) == *関連語* ]] || fail "$package: no Description-ja"
done

for package in "${!debs[@]}"; do dpkg-deb -x "${debs[$package]}" "$root"; done
bin=$root/usr/bin share=$root/usr/share

# Hardened as Debian builds them, with no compiler notes left.
for program in korvalen korvalen-cli; do
    # Control flow integrity needs CET notes in every object linked, which
    # bookworm's C start files lack (its own /usr/bin/ls fails the check too).
    if command -v hardening-check >/dev/null; then
        report=$(hardening-check --nocfprotection "$bin/$program") ||
            fail "hardening-check: $report"
    fi
    readelf -S "$bin/$program" | grep -q '\.comment' && fail "$program keeps .comment"
    [[ $("$bin/$program" --version) == "$program ${version%-1}" ]] || fail "$program --version"
done

# The unpacked korvalen-cli writes what the build folder's writes.
search() {
    (cd samples && "$1" -q -o "$2" -r relation.kvl -k 天気 -w 閲覧室 --set CRText=1 \
        diary.txt plans.txt 2>/dev/null)
}
search "$PWD/$build/cli/korvalen-cli" "$root/built.txt"
search "$bin/korvalen-cli" "$root/unpacked.txt"
cmp "$root/built.txt" "$root/unpacked.txt" || fail "korvalen-cli output differs"
[[ -s $root/unpacked.txt ]] || fail "korvalen-cli found nothing"

help=$("$bin/korvalen" --help-path 2>/dev/null) || fail "korvalen finds no help file ($help)"
[[ $help == "$share/korvalen/korvalen.html" ]] || fail "help file at $help"

desktop-file-validate "$share/applications/korvalen.desktop"
appstreamcli validate --no-net "$share"/metainfo/*.metainfo.xml >/dev/null

for page in "$share"/man/man1/korvalen.1.gz "$share"/man/man1/korvalen-cli.1.gz; do
    warnings=$(zcat "$page" | groff -ww -man -Tutf8 -z 2>&1)
    [[ -z $warnings ]] || fail "$page: $warnings"
done
# korvalen(1) names every section of the INI file.
for section in $(grep -o 'constexpr std::string_view k[A-Za-z]* = "[A-Za-z]*"' config/settings.cpp |
    sed 's/.*"\(.*\)"/\1/'); do
    zcat "$share/man/man1/korvalen.1.gz" | grep -q "\\[$section\\]" ||
        fail "korvalen(1) does not name [$section]"
done

keys=$(PATH="$bin:$PATH" bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    COMP_WORDS=(korvalen-cli -r samples/relation.kvl -k "")
    COMP_CWORD=4 COMP_LINE="${COMP_WORDS[*]}" COMP_POINT=${#COMP_LINE}
    _korvalen_cli korvalen-cli "" -k
    echo "${COMPREPLY[*]}"' - "$share/bash-completion/completions/korvalen-cli")
[[ $keys == "天気 乗り物 図書館" ]] || fail "completion of -k offers: $keys"

# Warnings are listed, errors fail.
for package in "${!debs[@]}"; do
    report=$(lintian --fail-on error "${debs[$package]}" 2>&1) || fail "lintian $package: $report"
    grep -v 'running with root privileges' <<<"$report" || true
done
echo "package: ${!debs[*]} $version checked"
