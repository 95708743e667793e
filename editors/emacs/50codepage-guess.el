;;; 50codepage-guess.el --- Debian's start-up file for codepage-guess.el

;; Only makes the commands known; (codepage-guess-mode 1) in an init file
;; turns the mode on.
(autoload 'codepage-guess-mode "codepage-guess"
  "Open files in the encoding the codepage-guess command decides." t)
(autoload 'codepage-guess-explain "codepage-guess"
  "Say why the current file gets its codepage-guess verdict." t)
