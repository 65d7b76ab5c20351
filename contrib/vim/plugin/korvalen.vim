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
"                 file beside the korvalen executable found in $PATH, else
"                 $XDG_CONFIG_HOME/korvalen/korvalen.INI.

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
" before it. Heads are found in the file's bytes (no byte of a code page 932
" character reads as "(", ")", ":", a blank or a digit). A path may stand for
" several names (s:Forms); the first reading one of whose names is a file is
" taken, else the first reading's first name: the real head ends the shortest
" path unless the file name itself holds a look-alike. The word runs to the
" first ")".
let s:head = '\v\((\d+)\) :\(| (\d+):\('
let s:error = iconv('ファイルアクセスでエラーが生じました：', 'utf-8', 'cp932')
" The forms typed on Linux of the characters that code page 932 reads back in
" their Windows forms (earlier versions wrote 〜 as ～'s code).
let s:typed = {'～': '〜', '－': '−', '―': '—', '∥': '‖', '￠': '¢', '￡': '£', '￢': '¬'}
let s:typed_chars = '[～－―∥￠￡￢]'

" Bytes of the output as text: code page 932, else as they are.
function! s:Decode(bytes) abort
  if a:bytes !~# '[^\x01-\x7f]'
    return a:bytes
  endif
  let l:text = iconv(a:bytes, 'cp932', 'utf-8')
  return l:text ==# '' ? a:bytes : l:text
endfunction

" The names a path of the output may stand for, in the order tried: its code
" page 932 reading, the same with the Linux forms, the bytes as they are
" (names that do not read back from code page 932 are written so).
function! s:Forms(raw) abort
  if a:raw !~# '[^\x01-\x7f]'
    return [a:raw]
  endif
  let l:forms = []
  let l:text = iconv(a:raw, 'cp932', 'utf-8')
  if l:text !=# ''
    call add(l:forms, l:text)
    if l:text =~# s:typed_chars
      call add(l:forms, substitute(l:text, s:typed_chars, '\=s:typed[submatch(0)]', 'g'))
    endif
  endif
  if index(l:forms, a:raw) < 0
    call add(l:forms, a:raw)
  endif
  return l:forms
endfunction

" [file, found] for a path of the output: the first of its names that is a
" file or folder, a relative one taken from the output file's folder, else
" from the current folder; none found: the first name, from the output's
" folder. Kept per path: a million hits name few files.
let s:found = {}
function! s:Find(raw, outdir) abort
  let l:key = a:outdir . "\n" . a:raw
  if has_key(s:found, l:key)
    return s:found[l:key]
  endif
  let l:result = []
  for l:name in s:Forms(a:raw)
    let l:places = l:name =~# '^/' ? [l:name] : [a:outdir . '/' . l:name, l:name]
    for l:place in l:places
      if filereadable(l:place) || isdirectory(l:place)
        let l:result = [l:place, 1]
        break
      endif
    endfor
    if !empty(l:result)
      break
    endif
  endfor
  if empty(l:result)
    let l:name = s:Forms(a:raw)[0]
    let l:result = [l:name =~# '^/' ? l:name : a:outdir . '/' . l:name, 0]
  endif
  let s:found[l:key] = l:result
  return l:result
endfunction

" The byte column (1-based) of `word` in `text`; a word cut by the line's end
" (found across a line break): where it begins. 0 when not there.
function! s:Column(text, word) abort
  if a:word ==# ''
    return 0
  endif
  let l:at = stridx(a:text, a:word)
  if l:at >= 0
    return l:at + 1
  endif
  let l:chars = split(a:word, '\zs')
  for l:n in range(len(l:chars) - 1, 1, -1)
    let l:part = join(l:chars[: l:n - 1], '')
    if strpart(a:text, len(a:text) - len(l:part)) ==# l:part
      return len(a:text) - len(l:part) + 1
    endif
  endfor
  return 0
endfunction

" {'filename', 'lnum', 'col', 'text'} of a hit line (the file's bytes, no CR),
" or {}. `outdir` is the output file's folder.
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
    let l:found = s:Find(a:line[: l:m[1] - 1], l:outdir)
    if l:found[1] || empty(l:first)
      let l:text = s:Decode(a:line[l:m[2] - 1 :])
      let l:word = s:Decode(l:close > l:m[2] ? a:line[l:m[2] : l:close - 1] : '')
      let l:item = {'filename': l:found[0], 'lnum': str2nr(matchstr(l:m[0], '\d\+')),
            \ 'col': s:Column(l:text[len(l:word) + 2 :], l:word), 'text': l:text}
      if l:found[1]
        return l:item
      endif
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
  let l:outdir = fnamemodify(l:file, ':p:h')
  let s:found = {}
  let l:shown = {}
  for l:raw in readfile(l:file)
    let l:item = korvalen#ParseLine(substitute(l:raw, '\r$', '', ''), l:outdir)
    if !empty(l:item)
      if !has_key(l:shown, l:item.filename)
        let l:shown[l:item.filename] = fnamemodify(l:item.filename, ':.')
      endif
      let l:item.filename = l:shown[l:item.filename]
      call add(l:items, l:item)
    endif
  endfor
  call setqflist([], 'r', {'title': 'Korvalen: ' . l:file, 'items': l:items})
endfunction

command! -nargs=? -complete=file KorvalenQuickfix call korvalen#Quickfix(<q-args>)
