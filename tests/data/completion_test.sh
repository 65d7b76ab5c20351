#!/usr/bin/env bash
# Completing -k offers each key of the relation file as one shell word, read
# back as the key itself: blanks, parentheses, quotes and $ included.
# Usage: completion_test.sh COMPLETION_FILE KORVALEN_CLI
set -euo pipefail
completion=$1 cli=$2
[[ -r /usr/share/bash-completion/bash_completion ]] || { echo "SKIP: no bash-completion"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
keys=('a(b)' "it's" 'sp ace' '天気' '$HOME' 'q"x' 'b\s')
printf '%s=w\r\n' "${keys[@]}" | iconv -f UTF-8 -t CP932 >"$work/rel.kvl"
export LC_ALL=C.UTF-8
got=$(PATH="$(dirname "$cli"):$PATH" bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    COMP_WORDS=(korvalen-cli -r "$2" -k "")
    COMP_CWORD=4 COMP_LINE="${COMP_WORDS[*]}" COMP_POINT=${#COMP_LINE}
    _korvalen_cli korvalen-cli "" -k
    for reply in "${COMPREPLY[@]}"; do
        eval "words=($reply)" || exit 1  # as the shell reads the completed line
        [[ ${#words[@]} -eq 1 ]] || exit 1
        printf "%s\n" "${words[0]}"
    done' - "$completion" "$work/rel.kvl") || { echo "FAIL: a completed key is no shell word"; exit 1; }
want=$(printf '%s\n' "${keys[@]}")
[[ $got == "$want" ]] || { printf 'FAIL: completed\n%s\nwanted\n%s\n' "$got" "$want"; exit 1; }
