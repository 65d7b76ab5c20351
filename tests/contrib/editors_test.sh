#!/usr/bin/env bash
# Vim's :KorvalenQuickfix and Emacs's korvalen-open-output must read every hit
# of the shared table's lines in an output file, read from its folder or from
# another, into the right file and line.
# Usage: editors_test.sh CONTRIB_DIR (vim|vim-legacy|emacs) TABLE
set -euo pipefail
contrib=$1 editor=$2 table=$3
here=$(cd "$(dirname "$0")" && pwd)

command -v "${editor%-legacy}" >/dev/null || { echo "SKIP: $editor is not installed"; exit 77; }
legacy=0
[[ $editor == vim-legacy ]] && editor=vim legacy=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Prints "file|line|column" per hit of output file $1, relative to $2 ($3 = first:
# Emacs's first-error too).
hits() {
    local out=$1 base=$2 first=${3:-}
    rm -f "$work/got.txt"
    case $editor in
    vim)
        vim -Es -N -u NONE -i NONE --cmd 'set encoding=utf-8' \
            --cmd "let g:korvalen_legacy = $legacy" --cmd "source $contrib/vim/plugin/korvalen.vim" \
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

mkdir table elsewhere
sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932; }
expected=
while IFS=$'\037' read -r line kind path number _ _ exists written column; do
    name=$path
    [[ $written == sjis ]] && name=$(sjis "$path")
    case $written in
    bytes) printf '%s' "$path" && sjis "${line#"$path"}" ;;
    *) sjis "$line" ;;
    esac >>table/out.txt
    printf '\r\n' >>table/out.txt
    if [[ $exists == 1 ]]; then
        mkdir -p "table/$(dirname "$name")" && : >"table/$name"
    fi
    [[ $kind == hit ]] && expected+="$name|$number|$column"$'\n'
done < <(grep -v '^#' "$table" | tr '\t' '\037')
expected=${expected%$'\n'}
check "shared table" "$expected" "$(cd table && hits out.txt "$work/table")"
check "from elsewhere" "$expected" "$(cd elsewhere && hits ../table/out.txt "$work/table")"

printf 'x\tw\n' >b:c.txt
printf 'b:c.txt(1) :(w)x\tw\r\n' >one.txt
[[ $editor == vim ]] || check "first-error, on the word" "b:c.txt|1|3
first|b:c.txt|1|3" "$(hits one.txt "$work" first)"

# More hits than Vim hands to its quickfix list at once, the file changing
# between: every one, in order, at its word.
if [[ $editor == vim ]]; then
    mkdir many && touch many/x{0..4}.txt
    awk 'BEGIN { for (i = 0; i < 12500; i++)
        printf "x%d.txt(%d) :(w)%sw\r\n", i / 2500, i + 1, substr("aaaaaa", 1, i % 7) }' >many/out.txt
    check "12,500 hits" "$(awk 'BEGIN { for (i = 0; i < 12500; i++)
        printf "x%d.txt|%d|%d\n", i / 2500, i + 1, i % 7 + 1 }')" "$(cd many && hits out.txt "$work/many")"
fi

# No output named in the INI file: said so (Emacs 28 in --batch has no
# string-empty-p unless subr-x is loaded).
if [[ $editor == emacs ]]; then
    mkdir -p xdg/korvalen && printf '[File]\r\nOutputFile=\r\n' >xdg/korvalen/korvalen.INI
    check "no output named" "user-error" "$(XDG_CONFIG_HOME=$work/xdg emacs --batch -Q \
        -l "$contrib/emacs/korvalen.el" \
        --eval '(condition-case e (korvalen-open-output) (error (princ (car e))))' 2>/dev/null)"
fi
