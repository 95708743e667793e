" codepage-guess: open each file in the encoding the codepage-guess command
" decides, UTF-8 or Shift_JIS (CP932). See :help codepage-guess.
if exists('g:loaded_codepage_guess') || &compatible || v:version < 800
  finish
endif
let g:loaded_codepage_guess = 1

augroup codepage_guess
  autocmd!
  autocmd BufReadPre * call codepage_guess#BeforeRead(expand('<afile>'))
  autocmd BufReadPost * call codepage_guess#AfterRead()
augroup END

command! -bar CodepageGuessExplain call codepage_guess#Explain(expand('%'))
