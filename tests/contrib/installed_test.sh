#!/usr/bin/env bash
# The editor helpers as installed: the output file named in the INI file
# opens in a fresh Vim as code page 932, and with an installed korvalen in
# $PATH the helpers read the user's INI file, never one beside the program.
# Usage: installed_test.sh CONTRIB_DIR
set -euo pipefail
contrib=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$work/cfg/korvalen" "$work/usr/bin" "$work/usr/share/korvalen"
printf 'abc(1) :(天気)晴れ\r\n' | iconv -f UTF-8 -t CP932 >"$work/out.txt"
printf '[File]\r\nOutputFile=%s\r\n' "$work/out.txt" >"$work/cfg/korvalen/korvalen.INI"
# An installed korvalen with an INI beside it that a start as root left.
printf '#!/bin/sh\n' >"$work/usr/bin/korvalen" && chmod +x "$work/usr/bin/korvalen"
printf '[File]\r\nOutputFile=%s\r\n' "$work/stale.txt" >"$work/usr/bin/korvalen.INI"
cp "$work/out.txt" "$work/stale.txt"
export XDG_CONFIG_HOME=$work/cfg HOME=$work PATH=$work/usr/bin:$PATH

if command -v vim >/dev/null; then
    for file in out.txt stale.txt; do
        vim -Es -N -u DEFAULTS -i NONE --cmd "set rtp^=$contrib/vim" \
            -c "call writefile([&fileencoding], '$work/got')" -c 'qa!' "$work/$file" || true
        echo "$file $(cat "$work/got")" >>"$work/encodings"
    done
    [[ $(cat "$work/encodings") == $'out.txt cp932\nstale.txt latin1' ]] ||
        fail "Vim read: $(cat "$work/encodings")"
    vim -Es -N -u NONE -i NONE --cmd 'set encoding=utf-8' \
        --cmd "source $contrib/vim/plugin/korvalen.vim" -c KorvalenQuickfix \
        -c "call writefile([getqflist({'title': 1}).title], '$work/qf')" -c 'qa!' || true
    [[ $(cat "$work/qf") == "Korvalen: $work/out.txt" ]] || fail "Vim quickfix: $(cat "$work/qf")"
fi
if command -v emacs >/dev/null; then
    ini=$(emacs --batch -Q -l "$contrib/emacs/korvalen.el" \
        --eval '(princ (korvalen--ini-file))' 2>/dev/null)
    [[ $ini == "$work/cfg/korvalen/korvalen.INI" ]] || fail "Emacs reads $ini"
fi
