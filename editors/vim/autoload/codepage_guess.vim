" The work of plugin/codepage_guess.vim, loaded on the first file read.

let s:saved_fileencodings = v:null
let s:warned = 0

function! s:Warn(message) abort
  if s:warned
    return
  endif
  let s:warned = 1
  echohl WarningMsg
  echomsg 'codepage-guess: ' . a:message
  echohl None
endfunction

function! s:Command() abort
  return get(g:, 'codepage_guess_command', 'codepage-guess')
endfunction

" Runs a program on a file: without a shell in Neovim, through one in Vim.
function! s:Run(program, arguments) abort
  if has('nvim')
    return system([a:program] + a:arguments)
  endif
  return system(join(map([a:program] + a:arguments, 'shellescape(v:val)')))
endfunction

" The verdict on a file: 65001, 932, or 0 when the command is undecided, is
" not installed or fails (an unreadable or empty file).
function! codepage_guess#Verdict(path) abort
  let command = s:Command()
  if !executable(command)
    call s:Warn(command . ' is not installed: files open as they would without it')
    return 0
  endif
  let output = s:Run(command, [a:path])
  if v:shell_error != 0
    return 0
  endif
  return str2nr(matchstr(output, 'code\.page=\zs\d\+'))
endfunction

" Before a file is read: 'fileencodings' for the verdict. UTF-8 stays
" UTF-8; Shift_JIS opens as CP932 unless the file is valid UTF-8, and where
" CP932 cannot convert it either, as Latin-1, byte for byte. Otherwise the
" editor's own choice stands.
function! codepage_guess#BeforeRead(file) abort
  if !get(g:, 'codepage_guess_enabled', 1) || &buftype !=# '' || &binary
    return
  endif
  " An encoding the user gave (:edit ++enc=...) wins; a new file, a directory
  " or a device is none of ours.
  if v:cmdarg =~# '++enc' || getftype(a:file) !=# 'file' || !filereadable(a:file)
    return
  endif
  let verdict = codepage_guess#Verdict(fnamemodify(a:file, ':p'))
  if verdict != 65001 && verdict != 932
    return
  endif
  let s:saved_fileencodings = &fileencodings
  let &fileencodings = verdict == 65001 ? 'ucs-bom,utf-8' : 'ucs-bom,utf-8,cp932,latin1'
endfunction

function! codepage_guess#AfterRead() abort
  if s:saved_fileencodings isnot v:null
    let &fileencodings = s:saved_fileencodings
    let s:saved_fileencodings = v:null
  endif
endfunction

" Why the file got its verdict: both readings' error counts and scores.
function! codepage_guess#Explain(file) abort
  if a:file ==# '' || !filereadable(a:file)
    echo 'codepage-guess: no file to explain'
    return
  endif
  let command = s:Command()
  let scan = get(g:, 'codepage_guess_scan_command',
        \ fnamemodify(command, ':t') ==# command ? 'codepage-scan'
        \ : fnamemodify(command, ':h') . '/codepage-scan')
  if !executable(scan)
    call s:Warn(scan . ' is not installed')
    return
  endif
  echo substitute(s:Run(scan, ['--explain', fnamemodify(a:file, ':p')]), '\n\+$', '', '')
endfunction
