" Writes "file|line" for every valid quickfix entry that :KorvalenQuickfix
" makes of g:korvalen_test_output into g:korvalen_test_result.
execute 'KorvalenQuickfix ' . fnameescape(g:korvalen_test_output)
call writefile(map(filter(getqflist(), 'v:val.valid'),
      \ 'bufname(v:val.bufnr) . "|" . v:val.lnum'), g:korvalen_test_result)
qall!
