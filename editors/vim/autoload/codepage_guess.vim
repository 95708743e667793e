" The work of plugin/codepage_guess.vim, loaded on the first file read.

" 'fileencodings' as it was before each read we changed it for, by buffer
" (and by ":read" into a buffer): reads may nest, each puts back its own.
let s:saved = {}
let s:warned = {}

function! s:Warn(message) abort
  if has_key(s:warned, a:message)
    return
  endif
  let s:warned[a:message] = 1
  echohl WarningMsg
  echomsg 'codepage-guess: ' . a:message
  echohl None
endfunction

function! s:Command() abort
  return get(g:, 'codepage_guess_command', 'codepage-guess')
endfunction

" codepage-scan: the command given, or the one beside codepage-guess.
function! s:ScanCommand() abort
  let command = s:Command()
  return get(g:, 'codepage_guess_scan_command',
        \ fnamemodify(command, ':t') ==# command ? 'codepage-scan'
        \ : fnamemodify(command, ':h') . '/codepage-scan')
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

" What the file is, as codepage-scan says: its kind ('shift_jis', 'euc-jp',
" 'utf-8', ...) and the verdict beside it; '' for the kind when the scan is
" not installed or fails.
function! codepage_guess#Describe(path) abort
  let scan = s:ScanCommand()
  if !executable(scan)
    return {'kind': '', 'code_page': codepage_guess#Verdict(a:path)}
  endif
  let output = s:Run(scan, ['--json', '--no-summary', '--no-ignore', '--', a:path])
  let kind = matchstr(output, '"kind":"\zs[^"]\+')
  if v:shell_error != 0 || kind ==# ''
    return {'kind': '', 'code_page': 0}
  endif
  return {'kind': kind, 'code_page': str2nr(matchstr(output, '"code_page":\zs\d\+'))}
endfunction

" The encodings to try first for what the file is; [] to leave the user's.
function! s:Front(description) abort
  let kind = a:description.kind
  if kind ==# ''
    " The verdict alone: UTF-8, or Shift_JIS unless the file is valid UTF-8.
    return a:description.code_page == 65001 ? ['ucs-bom', 'utf-8']
          \ : a:description.code_page == 932 ? ['ucs-bom', 'utf-8', 'cp932'] : []
  endif
  return get({
        \ 'utf-8': ['ucs-bom', 'utf-8'],
        \ 'utf-16le': ['ucs-bom'], 'utf-16be': ['ucs-bom'],
        \ 'utf-32le': ['ucs-bom'], 'utf-32be': ['ucs-bom'],
        \ 'shift_jis': ['cp932'], 'mixed': ['cp932'],
        \ 'euc-jp': ['euc-jp'], 'iso-2022-jp': ['iso-2022-jp'],
        \ }, kind, [])
endfunction

" `front`, then the user's own list without what is already in front, then
" latin1, which reads any bytes, if the list does not end with it.
function! codepage_guess#Encodings(front, user) abort
  let names = copy(a:front)
  for name in split(a:user, ',')
    if index(names, name) < 0
      call add(names, name)
    endif
  endfor
  if names[-1] !=# 'latin1'
    call filter(names, 'v:val !=# "latin1"')
    call add(names, 'latin1')
  endif
  return join(names, ',')
endfunction

" Before a file is read (`key` names the read): 'fileencodings' for what the
" file is. An encoding the user gave (++enc), a binary read, a buffer that is
" no file's, a new file, a folder or a device: none of ours.
function! codepage_guess#BeforeRead(key, file) abort
  " A read that failed before its end left its value: put it back first.
  call codepage_guess#AfterRead(a:key)
  if !get(g:, 'codepage_guess_enabled', 1) || &buftype !=# '' || &binary
        \ || v:cmdarg =~# '++enc' || v:cmdarg =~# '++bin'
    return
  endif
  " A link is read as its target: ask about the target.
  let path = resolve(fnamemodify(a:file, ':p'))
  if getftype(path) !=# 'file' || !filereadable(path)
    return
  endif
  let front = s:Front(codepage_guess#Describe(path))
  if empty(front)
    return
  endif
  let s:saved[a:key] = &fileencodings
  let &fileencodings = codepage_guess#Encodings(front, &fileencodings)
endfunction

function! codepage_guess#AfterRead(key) abort
  if has_key(s:saved, a:key)
    let &fileencodings = remove(s:saved, a:key)
  endif
endfunction

" Why the file got its verdict: both readings' error counts and scores.
function! codepage_guess#Explain(file) abort
  if a:file ==# '' || !filereadable(a:file)
    echo 'codepage-guess: no file to explain'
    return
  endif
  let scan = s:ScanCommand()
  if !executable(scan)
    call s:Warn(scan . ' is not installed')
    return
  endif
  echo substitute(s:Run(scan, ['--explain', fnamemodify(a:file, ':p')]), '\n\+$', '', '')
endfunction
