" codepage-guess: open each file in the encoding it is in, as codepage-scan
" says (or UTF-8 or Shift_JIS, as the codepage-guess command decides), ahead
" of the user's own 'fileencodings'. See :help codepage-guess.
if exists('g:loaded_codepage_guess') || &compatible || v:version < 800
  finish
endif
let g:loaded_codepage_guess = 1

augroup codepage_guess
  autocmd!
  autocmd BufReadPre * call codepage_guess#BeforeRead('b' . expand('<abuf>'), expand('<afile>'))
  autocmd BufReadPost * call codepage_guess#AfterRead('b' . expand('<abuf>'))
  " :read, into the current buffer.
  autocmd FileReadPre * call codepage_guess#BeforeRead('r' . expand('<abuf>'), expand('<afile>'))
  autocmd FileReadPost * call codepage_guess#AfterRead('r' . expand('<abuf>'))
augroup END

command! -bar CodepageGuessExplain call codepage_guess#Explain(expand('%'))
