" Korvalen: read Korvalen's output file (code page 932 tag-jump lines) into
" the quickfix list.
"
"   :KorvalenQuickfix          the output file named in Korvalen's INI file
"   :KorvalenQuickfix {file}   any Korvalen output file
"
" Both line forms are understood:
"   path(12) :(word)text       (TagJump on, the default)
"   path 12:(word)text         (TagJump off)
" The file name may hold blanks and parentheses; the hit text may hold
" anything.
"
" g:korvalen_ini  the INI file to read the output path from. Default: the
"                 file beside the korvalen executable found in $PATH, else
"                 $XDG_CONFIG_HOME/korvalen/korvalen.INI.

if exists('g:loaded_korvalen')
  finish
endif
let g:loaded_korvalen = 1

" For :cfile and :grep users. Each form alone is exact; on a line whose text
" holds the other form's head (" 12:(" after a TagJump head, say) the first
" pattern that fits wins, which may be the wrong one. :KorvalenQuickfix does
" not have that limit.
let g:korvalen_errorformat = '%f(%l)\ :%m,%f\ %l:%m'

" The head that ends first is the real one: the path comes before it, and any
" look-alike in the hit text comes after it.
let s:head = '\v^(.{-1,})%(\((\d+)\) :\(| (\d+):\()'

function! korvalen#ParseLine(line) abort
  let l:m = matchlist(a:line, s:head)
  if empty(l:m)
    return {}
  endif
  let l:lnum = l:m[2] !=# '' ? l:m[2] : l:m[3]
  return {'filename': l:m[1], 'lnum': str2nr(l:lnum), 'text': a:line[len(l:m[0]) - 1 :]}
endfunction

function! s:IniPath() abort
  if exists('g:korvalen_ini')
    return g:korvalen_ini
  endif
  let l:exe = exepath('korvalen')
  if l:exe !=# ''
    let l:ini = fnamemodify(l:exe, ':r') . '.INI'
    if filereadable(l:ini)
      return l:ini
    endif
  endif
  let l:xdg = empty($XDG_CONFIG_HOME) ? expand('~/.config') : $XDG_CONFIG_HOME
  return l:xdg . '/korvalen/korvalen.INI'
endfunction

" The value of OutputFile in section [File]; the first one wins.
function! korvalen#OutputFromIni(ini) abort
  if !filereadable(a:ini)
    return ''
  endif
  let l:section = ''
  for l:line in readfile(a:ini)
    let l:line = substitute(l:line, '\r$', '', '')
    let l:m = matchlist(l:line, '^\s*\[\(.*\)\]\s*$')
    if !empty(l:m)
      let l:section = l:m[1]
      continue
    endif
    let l:m = matchlist(l:line, '^\s*OutputFile\s*=\(.*\)$')
    if l:section ==# 'File' && !empty(l:m)
      return l:m[1]
    endif
  endfor
  return ''
endfunction

function! korvalen#Quickfix(...) abort
  let l:file = a:0 > 0 && a:1 !=# '' ? a:1 : korvalen#OutputFromIni(s:IniPath())
  if l:file ==# ''
    echohl ErrorMsg | echomsg 'korvalen: no output file named in ' . s:IniPath() | echohl None
    return
  endif
  if !filereadable(l:file)
    echohl ErrorMsg | echomsg 'korvalen: cannot read ' . l:file | echohl None
    return
  endif
  let l:items = []
  for l:raw in readfile(l:file)
    let l:line = iconv(substitute(l:raw, '\r$', '', ''), 'cp932', &encoding)
    let l:item = korvalen#ParseLine(l:line)
    if !empty(l:item)
      call add(l:items, l:item)
    endif
  endfor
  call setqflist([], 'r', {'title': 'Korvalen: ' . l:file, 'items': l:items})
endfunction

command! -nargs=? -complete=file KorvalenQuickfix call korvalen#Quickfix(<q-args>)
