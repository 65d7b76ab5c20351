#!/usr/bin/env bash
# Vim's :KorvalenQuickfix and Emacs's korvalen-open-output must read every hit
# of real output files (both line forms, from any folder, the shared table)
# into the right file and line.
# Usage: editors_test.sh KORVALEN_CLI CONTRIB_DIR (vim|emacs) TABLE
set -euo pipefail
cli=$1 contrib=$2 editor=$3 table=$4
here=$(cd "$(dirname "$0")" && pwd)

command -v "$editor" >/dev/null || { echo "SKIP: $editor is not installed"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Prints "file|line" per hit of output file $1, relative to $2 ($3 = first:
# Emacs's first-error too).
hits() {
    local out=$1 base=$2 first=${3:-}
    rm -f "$work/got.txt"
    case $editor in
    vim)
        vim -Es -N -u NONE -i NONE --cmd 'set encoding=utf-8' \
            --cmd "source $contrib/vim/plugin/korvalen.vim" \
            --cmd "let g:korvalen_test_output = '$out'" \
            --cmd "let g:korvalen_test_result = '$work/got.txt'" \
            -S "$here/vim_hits.vim" || true
        ;;
    emacs)
        emacs --batch -Q -l "$contrib/emacs/korvalen.el" -l "$here/emacs_hits.el" "$out" $first \
            >"$work/got.txt" 2>"$work/emacs.log" || { cat "$work/emacs.log"; exit 1; }
        ;;
    esac
    sed "s|$base/||" "$work/got.txt" 2>/dev/null || true
}

check() {  # what, expected, got
    [[ "$3" == "$2" ]] && return
    printf 'FAIL: %s, %s. Expected:\n%s\nGot:\n%s\n' "$editor" "$1" "$2" "$3" && exit 1
}

mkdir "dir with blanks" elsewhere
sjis() { iconv -f UTF-8 -t CP932; }
# Lines 2, 4 and 5 hold the word; line 5's text looks like both heads.
printf '%s\r\n' "一行目" "検索（全角）: a(1) :(b)" "三行目" "x 7:(y) 検索" "検索(3) :(z) 9:(q)" \
    | sjis >"dir with blanks/a (1).txt"
printf '%s\n' "検索：ここ" "なし" | sjis >"b:c.txt"
printf '%s\n' "なし" "日本語の検索" | sjis >"日本語 (1).txt"
printf '%s\n' "検索" | sjis >words.txt
expected="dir with blanks/a (1).txt|2
dir with blanks/a (1).txt|4
dir with blanks/a (1).txt|5
b:c.txt|1
日本語 (1).txt|2"

for tag in 1 0; do
    out="out $tag.txt"
    "$cli" -q -o "$out" -W words.txt --set TagJump=$tag "dir with blanks/a (1).txt" "b:c.txt" \
        "日本語 (1).txt" 2>/dev/null || { echo "korvalen-cli failed with $?"; exit 1; }
    check "TagJump=$tag" "$expected" "$(hits "$out" "$work")"
    check "TagJump=$tag from elsewhere" "$expected" "$(cd elsewhere && hits "../$out" "$work")"
done

[[ $editor == vim ]] || check "first-error" "b:c.txt|1
first|b:c.txt|1" \
    "$("$cli" -q -o one.txt -W words.txt "b:c.txt" &>/dev/null; hits one.txt "$work" first)"

# The shared table in one output file, with the files of rows marked as existing.
mkdir table
grep -v '^#' "$table" | cut -f1 | sed 's/$/\r/' | sjis >table/out.txt
expected=$(grep -v '^#' "$table" | awk -F'\t' '$2 == "hit" { print $3 "|" $4 }')
while IFS=$'\t' read -r _ _ path _ _ _ exists; do
    if [[ $exists == 1 ]]; then
        mkdir -p "table/$(dirname "$path")" && : >"table/$path"
    fi
done < <(grep -v '^#' "$table")
check "shared table" "$expected" "$(cd table && hits out.txt "$work/table")"
