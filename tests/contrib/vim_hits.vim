" Writes "file|line" (file absolute) for every valid quickfix entry that
" :KorvalenQuickfix makes of g:korvalen_test_output into g:korvalen_test_result.
execute 'KorvalenQuickfix ' . fnameescape(g:korvalen_test_output)
call writefile(map(filter(getqflist(), 'v:val.valid'),
      \ 'fnamemodify(bufname(v:val.bufnr), ":p") . "|" . v:val.lnum'), g:korvalen_test_result)
qall!
