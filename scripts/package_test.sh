#!/usr/bin/env bash
# Builds the Debian package from a Release build folder, unpacks it into a
# temporary root and checks the installed files from there: the programs, the
# help file's place, the desktop entry, AppStream, man pages, completion, and
# lintian (no errors).
# Usage: scripts/package_test.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen

fail() { echo "package: $*" >&2; exit 1; }

rm -f "$build"/korvalen_*.deb
(cd "$build" && cpack -G DEB >/dev/null 2>&1)
deb=$(echo "$build"/korvalen_*.deb)
[[ -f $deb ]] || fail "no package built"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
bin=$root/usr/bin share=$root/usr/share

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

keys=$(PATH="$bin:$PATH" bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    COMP_WORDS=(korvalen-cli -r samples/relation.kvl -k "")
    COMP_CWORD=4 COMP_LINE="${COMP_WORDS[*]}" COMP_POINT=${#COMP_LINE}
    _korvalen_cli korvalen-cli "" -k
    echo "${COMPREPLY[*]}"' - "$share/bash-completion/completions/korvalen-cli")
[[ $keys == "天気 乗り物 図書館" ]] || fail "completion of -k offers: $keys"

# Warnings are listed, errors fail.
report=$(lintian --fail-on error "$deb" 2>&1) || fail "lintian: $report"
grep -v 'running with root privileges' <<<"$report" || true
echo "package: $(basename "$deb") checked"
