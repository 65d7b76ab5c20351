" Writes "file|line|column" (file absolute, column in characters of the hit's
" text) for every valid quickfix entry that :KorvalenQuickfix makes of
" g:korvalen_test_output into g:korvalen_test_result.
execute 'KorvalenQuickfix ' . fnameescape(g:korvalen_test_output)
function! s:Row(item) abort
  let l:rest = a:item.text[stridx(a:item.text, ')') + 1 :]
  let l:col = a:item.col > 0 ? strchars(strpart(l:rest, 0, a:item.col - 1)) + 1 : 0
  return fnamemodify(bufname(a:item.bufnr), ':p') . '|' . a:item.lnum . '|' . l:col
endfunction
call writefile(map(filter(getqflist(), 'v:val.valid'), 's:Row(v:val)'), g:korvalen_test_result)
qall!
