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
  for l:name in s:Forms(a:raw)
    for l:place in l:name =~# '^/' ? [l:name] : [a:outdir . '/' . l:name, l:name]
      if filereadable(l:place) || isdirectory(l:place)
        return [l:place, 1]
      endif
    endfor
  endfor
  let l:name = s:Forms(a:raw)[0]
  return [l:name =~# '^/' ? l:name : a:outdir . '/' . l:name, 0]
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

" The lines of a text, as split(text, "\n", 1) gives them. A register splits
" a million lines in half the time: split() steps through every character.
" The register is given back as it was.
if exists('*getreginfo')
  function! s:Split(text) abort
    let l:saved = getreginfo('k')
    try
      call setreg('k', a:text . "\n", 'l')
      return getreg('k', 1, 1)
    finally
      call setreg('k', l:saved)
    endtry
  endfunction
else
  function! s:Split(text) abort
    return split(a:text, "\n", 1)
  endfunction
endif

" The lines of the output decoded: all in one when they decode, else a thousand at a time, line by line where a block does not
" decode whole (a path written byte for byte). Heads are ASCII and no decoding
" makes or takes one, so the decoded line has the same heads as its bytes.
" readfile() takes the CR of a CR LF; s:crs says whether a line still ends in
" one (a lone CR before the end).
function! s:DecodeLines(lines) abort
  let l:all = iconv(join(a:lines, "\n"), 'cp932', 'utf-8')
  let l:text = l:all ==# '' ? [] : s:Split(l:all)
  if len(l:text) == len(a:lines)
    " A CR is looked for first: one byte is found far faster than two.
    let s:crs = stridx(l:all, "\r") >= 0 && (stridx(l:all, "\r\n") >= 0 || l:all[-1:] ==# "\r")
    return l:text
  endif
  let s:crs = 1
  let l:text = []
  for l:at in range(0, len(a:lines) - 1, 1000)
    let l:block = a:lines[l:at : l:at + 999]
    let l:joined = iconv(join(l:block, "\n"), 'cp932', 'utf-8')
    let l:decoded = l:joined ==# '' ? [] : split(l:joined, "\n", 1)
    if len(l:decoded) != len(l:block)
      let l:decoded = map(copy(l:block), 's:Decode(v:val)')
    endif
    call extend(l:text, l:decoded)
  endfor
  return l:text
endfunction

" The bytes before the `n`th head (1: the first) of a line's bytes.
function! s:RawPath(raw, n) abort
  let l:m = [0, -1, 0]
  let l:start = 1
  for l:i in range(a:n)
    let l:m = matchstrpos(a:raw, s:head, l:start)
    let l:start = l:m[1] + 1
  endfor
  return l:m[1] > 0 ? a:raw[: l:m[1] - 1] : ''
endfunction

" The head whose ":(" is at `colon` in `line`: [start, number] or [].
function! s:HeadAt(line, colon) abort
  if a:line[a:colon - 2 : a:colon - 1] ==# ') '
    let l:at = strridx(a:line, '(', a:colon - 3)
    let l:number = a:line[l:at + 1 : a:colon - 3]
  else
    let l:at = strridx(a:line, ' ', a:colon - 1)
    let l:number = a:line[l:at + 1 : a:colon - 1]
  endif
  return l:at >= 1 && l:number =~# '^\d\+$' ? [l:at, l:number] : []
endfunction

" {'filename', 'lnum', 'col', 'text'} of a hit line (the file's bytes), or {}.
" `outdir` is the output file's folder, `text` the line decoded (see
" s:DecodeLines; decoded here when not given). Each head ends in ":(", which
" text seldom holds: each one found is checked backwards for the rest.
function! korvalen#ParseLine(raw, ...) abort
  let l:outdir = a:0 > 0 ? a:1 : getcwd()
  let l:line = substitute(a:0 > 1 ? a:2 : s:Decode(a:raw), '\r$', '', '')
  if l:line ==# '' || l:line ==# '----------' || stridx(a:raw, s:error) == 0
    return {}
  endif
  let l:first = {}
  let l:n = 0
  let l:colon = stridx(l:line, ':(')
  while l:colon >= 0
    let l:head = s:HeadAt(l:line, l:colon)
    let l:close = empty(l:head) ? -1 : stridx(l:line, ')', l:colon + 2)
    let l:n += !empty(l:head)
    if l:close >= 0
      let l:key = l:outdir . "\n" . l:line[: l:head[0] - 1]
      if !has_key(s:found, l:key)
        let s:found[l:key] = s:Find(s:RawPath(a:raw, l:n), l:outdir)
      endif
      let l:found = s:found[l:key]
      if l:found[1] || empty(l:first)
        let l:word = l:line[l:colon + 2 : l:close - 1]
        let l:rest = l:line[l:close + 1 :]
        let l:col = stridx(l:rest, l:word) + 1
        let l:item = {'filename': l:found[0], 'lnum': str2nr(l:head[1]),
              \ 'col': l:col > 0 && l:word !=# '' ? l:col : s:Column(l:rest, l:word),
              \ 'text': l:line[l:colon + 1 :]}
        if l:found[1]
          return l:item
        endif
        let l:first = l:item
      endif
    endif
    let l:colon = stridx(l:line, ':(', l:colon + 1)
  endwhile
  return l:first
endfunction

" The same for every line of an output at once, added to the current
" quickfix list: compiled where Vim has Vim9 script (a million hits take less
" CPU than :cfile), line by line with the function above in other Vims and
" Neovim. Strings here are indexed in bytes (strpart), as stridx counts.
if has('vim9script') && !get(g:, 'korvalen_legacy', 0)
  def s:AddAll(raw: list<string>, text: list<string>, outdir: string, cr: bool)
    # The items go to setqflist() ten thousand at a time, filled in place in
    # the same dicts: a million dicts made and freed cost more than the rest.
    var items: list<dict<any>> = []
    var filled = 0
    var bufs: dict<number> = {}
    # Kept here, not in s:found: a script's dict is type-checked item by item
    # at every use from compiled code, which took minutes on 20,000 files.
    var places: dict<list<any>> = {}
    # A hit whose file was found leaves its path and what opens its head:
    # the next line that starts so and has a head right there is the next
    # hit of that file (the readings before it name the same missing files),
    # read without looking the path up again.
    var lead = "\n"
    var tail = ''
    var leadBuf = 0
    var i = -1
    for crlf in text
      i += 1
      var line = cr && strpart(crlf, len(crlf) - 1) == "\r" ? strpart(crlf, 0, len(crlf) - 1) : crlf
      if stridx(line, lead) == 0
        var pl = len(lead)
        var colon = stridx(line, tail, pl)
        # Digits alone: as many as the number has.
        var digits = colon - pl
        var lnum = str2nr(strpart(line, pl, digits))
        colon += len(tail) - 2
        var close = colon < pl ? -1 : stridx(line, ')', colon + 2)
        if close >= 0 && lnum > 0 && digits == (lnum < 10 ? 1 : lnum < 100 ? 2 : lnum < 1000 ? 3
            : lnum < 10000 ? 4 : lnum < 100000 ? 5 : lnum < 1000000 ? 6 : len(string(lnum)))
          var word = strpart(line, colon + 2, close - colon - 2)
          var col = word == '' ? 0 : stridx(line, word, close + 1) - close
          if filled == len(items)
            add(items, {})
          endif
          var item = items[filled]
          item.bufnr = leadBuf
          item.lnum = lnum
          item.col = col > 0 ? col : s:Column(strpart(line, close + 1), word)
          item.text = strpart(line, colon + 1)
          filled += 1
          if filled == 10000
            setqflist([], 'a', {items: items})
            filled = 0
          endif
          continue
        endif
      endif
      lead = "\n"
      if line == '' || line == '----------' || stridx(raw[i], s:error) == 0
        continue
      endif
      var first: dict<any> = {}
      var n = 0
      var colon = stridx(line, ':(')
      while colon >= 0
        var at: number
        var num: string
        if strpart(line, colon - 2, 2) == ') '
          at = strridx(line, '(', colon - 3)
          num = strpart(line, at + 1, colon - 3 - at)
        else
          at = strridx(line, ' ', colon - 1)
          num = strpart(line, at + 1, colon - 1 - at)
        endif
        var isHead = at >= 1 && num =~ '^\d\+$'
        n += isHead ? 1 : 0
        var close = isHead ? stridx(line, ')', colon + 2) : -1
        if close >= 0
          var key = outdir .. "\n" .. strpart(line, 0, at)
          if !has_key(places, key)
            places[key] = s:Find(s:RawPath(raw[i], n), outdir)
          endif
          var place = places[key]
          if place[1] || empty(first)
            var word = strpart(line, colon + 2, close - colon - 2)
            var rest = strpart(line, close + 1)
            var col = stridx(rest, word) + 1
            first = {filename: place[0], lnum: str2nr(num),
              col: col > 0 && word != '' ? col : s:Column(rest, word),
              text: strpart(line, colon + 1)}
            if place[1]
              lead = strpart(line, 0, at + 1)
              tail = strpart(line, at, 1) == '(' ? ') :(' : ':('
              break
            endif
          endif
        endif
        colon = stridx(line, ':(', colon + 1)
      endwhile
      if !empty(first)
        # A buffer per file, named as :cfile names it: items then carry a
        # number, not a copy of the name each.
        if !has_key(bufs, first.filename)
          bufs[first.filename] = bufadd(fnamemodify(first.filename, ':.'))
        endif
        leadBuf = bufs[remove(first, 'filename')]
        first.bufnr = leadBuf
        if filled == len(items)
          add(items, first)
        else
          items[filled] = first
        endif
        filled += 1
        if filled == 10000
          setqflist([], 'a', {items: items})
          filled = 0
        endif
      endif
    endfor
    if filled > 0
      setqflist([], 'a', {items: items[: filled - 1]})
    endif
  enddef
else
  function! s:AddAll(raw, text, outdir, cr) abort
    let l:items = []
    let l:shown = {}
    for l:i in range(len(a:raw))
      let l:item = korvalen#ParseLine(a:raw[l:i], a:outdir, a:text[l:i])
      if !empty(l:item)
        if !has_key(l:shown, l:item.filename)
          let l:shown[l:item.filename] = fnamemodify(l:item.filename, ':.')
        endif
        let l:item.filename = l:shown[l:item.filename]
        call add(l:items, l:item)
      endif
    endfor
    call setqflist([], 'a', {'items': l:items})
  endfunction
endif

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
  let l:outdir = fnamemodify(l:file, ':p:h')
  let s:found = {}
  let l:raw = readfile(l:file)
  let l:text = s:DecodeLines(l:raw)
  call setqflist([], 'r', {'title': 'Korvalen: ' . l:file, 'items': []})
  call s:AddAll(l:raw, l:text, l:outdir, s:crs ? v:true : v:false)
endfunction

command! -nargs=? -complete=file KorvalenQuickfix call korvalen#Quickfix(<q-args>)
