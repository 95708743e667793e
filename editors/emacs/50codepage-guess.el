;;; 50codepage-guess.el --- Debian's start-up file for codepage-guess.el

;; Makes the package's commands known, from its generated autoloads;
;; (codepage-guess-mode 1) in an init file turns the mode on.
(load "codepage-guess-autoloads" t t)
