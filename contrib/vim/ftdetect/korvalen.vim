" Korvalen's output file is code page 932: the one named in Korvalen's INI
" file (g:korvalen_ini, else as the plugin finds it) opens as cp932, where
" Vim would guess latin1.

function! s:KorvalenIni() abort
  if exists('g:korvalen_ini')
    return g:korvalen_ini
  endif
  let l:exe = exepath('korvalen')
  let l:dir = fnamemodify(resolve(l:exe), ':h')
  if l:exe !=# '' && l:dir !~# '^/\(usr/\(local/\)\=\)\=s\=bin$' && l:dir !=# '/usr/games'
        \ && !isdirectory(l:dir . '/../share/korvalen')
        \ && filereadable(fnamemodify(l:exe, ':r') . '.INI')
    return fnamemodify(l:exe, ':r') . '.INI'
  endif
  let l:xdg = empty($XDG_CONFIG_HOME) ? expand('~/.config') : $XDG_CONFIG_HOME
  return l:xdg . '/korvalen/korvalen.INI'
endfunction

function! s:KorvalenOutput() abort
  let l:ini = s:KorvalenIni()
  if !filereadable(l:ini)
    return ''
  endif
  let l:section = ''
  for l:line in readfile(l:ini)
    let l:line = substitute(l:line, '\r$', '', '')
    let l:m = matchlist(l:line, '^\s*\[\(.*\)\]\s*$')
    if !empty(l:m)
      let l:section = l:m[1]
    elseif l:section ==# 'File' && l:line =~# '^\s*OutputFile\s*='
      return substitute(l:line, '^\s*OutputFile\s*=', '', '')
    endif
  endfor
  return ''
endfunction

function! s:KorvalenReadPre(file) abort
  let l:out = s:KorvalenOutput()
  if l:out ==# '' || fnamemodify(l:out, ':p') !=# fnamemodify(a:file, ':p')
    return
  endif
  let s:fileencodings = &fileencodings
  set fileencodings=cp932
endfunction

function! s:KorvalenReadPost() abort
  if exists('s:fileencodings')
    let &fileencodings = s:fileencodings
    unlet s:fileencodings
  endif
endfunction

autocmd BufReadPre * call s:KorvalenReadPre(expand('<afile>'))
autocmd BufReadPost * call s:KorvalenReadPost()
