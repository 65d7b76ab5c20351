" Korvalen: read Korvalen's output file (code page 932 tag-jump lines) into
" the quickfix list.
"
"   :KorvalenQuickfix          the output file named in Korvalen's INI file
"   :KorvalenQuickfix {file}   any Korvalen output file
"
" Both line forms are understood:
"   path(12) :(word)text       (TagJump on, the default)
"   path 12:(word)text         (TagJump off)
" The file name may hold blanks, parentheses, colons and even a head
" look-alike (then the reading whose file exists wins); the hit text may hold
" anything. Error blocks and separators are left out. A relative path is
" taken from the output file's folder when the file is there, else from the
" current folder.
"
" g:korvalen_ini  the INI file to read the output path from. Default: the
"                 file beside the korvalen executable found in $PATH (unless
"                 it is installed), else $XDG_CONFIG_HOME/korvalen/korvalen.INI.

scriptencoding utf-8

if exists('g:loaded_korvalen')
  finish
endif
let g:loaded_korvalen = 1

" For :cfile users, with TagJump on only (the default) and file names
" without blanks or parentheses: an errorformat cannot find the real head
" among look-alikes. :KorvalenQuickfix reads every form and is the way.
let g:korvalen_errorformat = '%f(%l)\ :%m'

" Each head ("(12) :(" or " 12:(") gives one reading; the path is everything
" before it. The first reading whose file exists is taken, else the first:
" the real head ends the shortest such path unless the file name itself holds
" a look-alike. The word runs to the first ")".
let s:head = '\v\((\d+)\) :\(| (\d+):\('
let s:error = 'ファイルアクセスでエラーが生じました：'

" A relative path is taken from the output file's folder when the file is
" there, else from the current folder; failing both, from the output's folder.
function! s:Resolve(path, outdir) abort
  if a:path =~# '^/'
    return a:path
  endif
  let l:there = a:outdir . '/' . a:path
  if filereadable(l:there) || isdirectory(l:there) || !filereadable(a:path)
    return l:there
  endif
  return a:path
endfunction

" {'filename', 'lnum', 'text'} of a hit line (already in &encoding), or {}.
" `outdir` is the output file's folder.
function! korvalen#ParseLine(line, ...) abort
  let l:outdir = a:0 > 0 ? a:1 : getcwd()
  if a:line ==# '' || a:line ==# '----------' || stridx(a:line, s:error) == 0
    return {}
  endif
  let l:first = {}
  let l:start = 1
  while 1
    let l:m = matchstrpos(a:line, s:head, l:start)
    if l:m[1] < 0
      break
    endif
    let l:start = l:m[1] + 1
    let l:close = stridx(a:line, ')', l:m[2])
    if l:close < 0
      continue
    endif
    let l:num = matchlist(l:m[0], '\d\+')[0]
    let l:item = {'filename': s:Resolve(a:line[: l:m[1] - 1], l:outdir),
          \ 'lnum': str2nr(l:num), 'text': a:line[l:m[2] - 1 :]}
    if filereadable(l:item.filename)
      return l:item
    endif
    if empty(l:first)
      let l:first = l:item
    endif
  endwhile
  return l:first
endfunction

function! s:IniPath() abort
  if exists('g:korvalen_ini')
    return g:korvalen_ini
  endif
  let l:exe = exepath('korvalen')
  " An installed korvalen never keeps its settings beside itself.
  let l:dir = fnamemodify(resolve(l:exe), ':h')
  if l:exe !=# '' && l:dir !~# '^/\(usr/\(local/\)\=\)\=s\=bin$' && l:dir !=# '/usr/games'
        \ && !isdirectory(l:dir . '/../share/korvalen')
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
  let l:outdir = fnamemodify(l:file, ':p:h')
  for l:raw in readfile(l:file)
    let l:raw = substitute(l:raw, '\r$', '', '')
    let l:line = iconv(l:raw, 'cp932', &encoding)
    if l:line ==# '' && l:raw !=# ''
      let l:line = l:raw  " a path the file holds byte for byte
    endif
    let l:item = korvalen#ParseLine(l:line, l:outdir)
    if !empty(l:item)
      let l:item.filename = fnamemodify(l:item.filename, ':.')
      call add(l:items, l:item)
    endif
  endfor
  call setqflist([], 'r', {'title': 'Korvalen: ' . l:file, 'items': l:items})
endfunction

command! -nargs=? -complete=file KorvalenQuickfix call korvalen#Quickfix(<q-args>)
