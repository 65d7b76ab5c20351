#!/usr/bin/env bash
# The editor helpers at scale, side by side with what each editor does on its
# own with the same hits in `rg --vimgrep` form (path:line:col:text, UTF-8):
#   Vim:   :KorvalenQuickfix on the output  vs  :cfile on the vimgrep lines
#   Emacs: korvalen-open-output, then the last hit  vs  grep-mode, the last hit
# Usage: bench/editors.sh [HITS [vim|emacs|both [RUNS]]] (default 1000000, both, 1 run). Prints
# seconds (wall and CPU, medians of the runs, taken in turn) and the ratios; the hits' files
# exist, in 100 files under a temp folder.
set -euo pipefail
hits=${1:-1000000}
only=${2:-}  # vim or emacs: that one alone
runs=${3:-1}
root=$(cd "$(dirname "$0")/.." && pwd)
contrib=$root/contrib
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The hits: 100 files of Japanese lines (blanks and parentheses in the names),
# the word at a varying column. The Korvalen output is made by the same rule
# the writer follows for such names (code page 932, TagJump on).
python3 - "$hits" <<'PY'
import sys
n = int(sys.argv[1])
files = 100
per = (n + files - 1) // files
out = open('out.txt', 'wb')
vg = open('vimgrep.txt', 'wb')
for f in range(files):
    name = f'資料 ({f}).txt'
    lines = []
    for i in range(per):
        if f * per + i >= n:
            break
        pad = '前' * (i % 20)
        text = f'{pad}検索語の例文、行 {i + 1} の本文です。'
        lines.append(text)
        out.write(f'{name}({i + 1}) :(検索){text}\r\n'.encode('cp932'))
        vg.write(f'{name}:{i + 1}:{len(pad.encode()) + 1}:{text}\n'.encode())
    with open(name, 'wb') as src:
        src.write(('\r\n'.join(lines) + '\r\n').encode('cp932'))
PY
last=$(tail -n 1 vimgrep.txt | cut -d: -f1,2)

# measure NAME COMMAND...: wall and CPU seconds of one run of the command, kept with the others.
measure() {
    local name=$1 wall user sys
    shift
    local TIMEFORMAT='%R %U %S'
    { time "$@" >/dev/null 2>&1; } 2>time.txt || { echo "$name failed" >&2; exit 1; }
    read -r wall user sys <time.txt
    echo "$wall" >>"$name.walls"
    echo "$user + $sys" | bc >>"$name.cpus"
}

# median FILE: the middle of its numbers (the lower middle of an even count).
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# report NAME: the medians of its runs, one line.
report() {
    median "$1.walls" >"$1.wall" && median "$1.cpus" >"$1.cpu"
    printf '%-22s %8.2f s wall %8.2f s CPU (median of %d: CPU %s)\n' "$1" "$(cat "$1.wall")" \
        "$(cat "$1.cpu")" "$runs" "$(sort -n "$1.cpus" | awk '{ printf "%s%.2f", (NR > 1 ? " " : ""), $1 }')"
}

# ratio A B: A's wall and CPU seconds over B's.
ratio() {
    echo "ratio $1 / $2: $(echo "scale=2; $(cat "$1.wall") / $(cat "$2.wall")" | bc) wall," \
        "$(echo "scale=2; $(cat "$1.cpu") / $(cat "$2.cpu")" | bc) CPU"
}

vimrun() {
    vim -Es -N -u NONE -i NONE --cmd 'set encoding=utf-8 fileencodings=utf-8,cp932' \
        --cmd "source $contrib/vim/plugin/korvalen.vim" "$@" -c 'qall!'
}
emacsrun() {
    emacs --batch -Q -l "$contrib/emacs/korvalen.el" --eval "$1" </dev/null
}

echo "$hits hits, $(du -m out.txt | cut -f1) MB output, $runs run(s); $(uptime)"

vim=0 emacs=0
[[ $only != emacs ]] && command -v vim >/dev/null && vim=1
[[ $only != vim ]] && command -v emacs >/dev/null && emacs=1
for _ in $(seq "$runs"); do
    if ((vim)); then
        measure vim-cfile vimrun -c 'set errorformat=%f:%l:%c:%m' -c 'cfile vimgrep.txt' -c 'clast'
        measure vim-KorvalenQuickfix vimrun -c 'KorvalenQuickfix out.txt' -c 'clast'
    fi
    if ((emacs)); then
        measure emacs-grep-mode emacsrun "(progn (require 'grep) (setq large-file-warning-threshold nil)
          (find-file \"vimgrep.txt\") (grep-mode)
          (goto-char (point-max)) (forward-line -1) (compile-goto-error))"
        measure emacs-korvalen emacsrun "(progn
          (set-buffer (korvalen-open-output \"out.txt\"))
          (goto-char (point-max)) (forward-line -1) (compile-goto-error))"
    fi
done
if ((vim)); then
    report vim-cfile && report vim-KorvalenQuickfix && ratio vim-KorvalenQuickfix vim-cfile
fi
if ((emacs)); then
    report emacs-grep-mode && report emacs-korvalen && ratio emacs-korvalen emacs-grep-mode
fi
echo "last hit: $last"
