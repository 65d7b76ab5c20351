#!/usr/bin/env bash
# Real editors on a real output file: Vim's :KorvalenQuickfix and Emacs's
# korvalen-open-output must parse every hit into the right file and line, for
# both line forms, with blanks and parentheses in paths and parentheses,
# colons and full-width characters in the hit text.
# Usage: editors_test.sh KORVALEN_CLI CONTRIB_DIR (vim|emacs)
set -euo pipefail
cli=$1 contrib=$2 editor=$3
here=$(cd "$(dirname "$0")" && pwd)

case $editor in
vim) command -v vim >/dev/null || { echo "SKIP: vim is not installed"; exit 77; } ;;
emacs) command -v emacs >/dev/null || { echo "SKIP: emacs is not installed"; exit 77; } ;;
esac

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir "dir with blanks"

sjis() { iconv -f UTF-8 -t CP932; }
# Lines 2, 4 and 5 hold the word; line 5's text looks like both heads.
printf '%s\r\n' "一行目" "検索（全角）: a(1) :(b)" "三行目" "x 7:(y) 検索" "検索(3) :(z) 9:(q)" \
    | sjis >"dir with blanks/a (1).txt"
printf '%s\n' "検索：ここ" "なし" | sjis >"b:c.txt"
printf '%s\n' "検索" | sjis >words.txt
expected="dir with blanks/a (1).txt|2
dir with blanks/a (1).txt|4
dir with blanks/a (1).txt|5
b:c.txt|1"

for tag in 1 0; do
    out="out $tag.txt"
    rc=0
    "$cli" -q -o "$out" -W words.txt --set TagJump=$tag "dir with blanks/a (1).txt" "b:c.txt" \
        2>/dev/null || rc=$?
    [[ $rc -eq 0 ]] || { echo "korvalen-cli failed with $rc"; exit 1; }

    rm -f got.txt
    case $editor in
    vim)
        vim -Es -N -u NONE -i NONE --cmd 'set encoding=utf-8' \
            --cmd "source $contrib/vim/plugin/korvalen.vim" \
            --cmd "let g:korvalen_test_output = '$out'" \
            --cmd "let g:korvalen_test_result = 'got.txt'" \
            -S "$here/vim_hits.vim" || true
        ;;
    emacs)
        emacs --batch -Q -l "$contrib/emacs/korvalen.el" -l "$here/emacs_hits.el" "$out" \
            >got.txt 2>emacs.log || { cat emacs.log; exit 1; }
        ;;
    esac
    if [[ "$(cat got.txt 2>/dev/null)" != "$expected" ]]; then
        echo "FAIL: $editor, TagJump=$tag. Expected:"; echo "$expected"
        echo "Got:"; cat got.txt 2>/dev/null || echo "(nothing)"
        echo "Output file:"; iconv -f CP932 -t UTF-8 "$out"
        exit 1
    fi
    echo "ok: $editor, TagJump=$tag"
done
