;;; make-autoloads.el --- Build step: byte-compile the package, write its autoloads -*- lexical-binding: t -*-

;; emacs --batch -Q -l make-autoloads.el DIR
;; DIR holds a copy of codepage-guess.el; codepage-guess.elc and
;; codepage-guess-autoloads.el are written beside it.  A warning fails the
;; build, as an error would.

;;; Code:

(let* ((dir (file-name-as-directory (expand-file-name (car command-line-args-left))))
       (source (expand-file-name "codepage-guess.el" dir))
       (autoloads (expand-file-name "codepage-guess-autoloads.el" dir)))
  (setq byte-compile-error-on-warn t)
  (unless (byte-compile-file source)
    (kill-emacs 1))
  (when (file-exists-p autoloads)
    (delete-file autoloads))
  ;; No timestamps, so that the same sources make the same file.
  (if (fboundp 'loaddefs-generate)
      (loaddefs-generate dir autoloads nil nil nil t)
    (require 'autoload)
    (defvar autoload-timestamps)
    (let ((autoload-timestamps nil))
      (make-directory-autoloads dir autoloads)))
  (unless (file-exists-p autoloads)
    (kill-emacs 1)))

;;; make-autoloads.el ends here
