;;; codepage-guess.el --- Open files in UTF-8 or Shift_JIS as codepage-guess decides -*- lexical-binding: t -*-

;; Copyright (C) 2026 The codepage-guess authors

;; Author: The codepage-guess authors
;; Version: 2.0.0
;; Package-Requires: ((emacs "25.1"))
;; Keywords: i18n, files
;; URL: https://codepage-guess.org

;; This file is not part of GNU Emacs.

;; Permission is hereby granted, free of charge, to any person obtaining a
;; copy of this software, to deal in it without restriction, under the terms
;; of the MIT licence that comes with it.

;;; Commentary:

;; When `codepage-guess-mode' is on, a file being visited is given to the
;; codepage-guess command, which decides whether it is UTF-8 or Shift_JIS:
;;
;;  - UTF-8: the file is read as UTF-8;
;;  - Shift_JIS: it is read as CP932 (Windows' Shift_JIS, extensions
;;    included), unless it is valid UTF-8, which then wins;
;;  - undecided, failed or not installed: Emacs decides as it always does.
;;
;; The line ending is detected as usual, and a coding system the user gave
;; (C-x RET c, a coding: cookie or file-local variable) wins.  Bytes that do
;; not convert are kept as raw bytes, so a file saved without changes keeps
;; every byte.
;;
;; To use it, put this file on `load-path' (the Debian package does) and:
;;
;;   (codepage-guess-mode 1)
;;
;; M-x codepage-guess-explain says why the current file got its verdict.

;;; Code:

(defgroup codepage-guess nil
  "Open files in the encoding the codepage-guess command decides."
  :group 'i18n
  :prefix "codepage-guess-")

(defcustom codepage-guess-command "codepage-guess"
  "The codepage-guess command: a name on variable `exec-path' or a full path."
  :type 'string)

(defcustom codepage-guess-scan-command nil
  "The codepage-scan command that `codepage-guess-explain' runs.
When nil, codepage-scan in the folder of `codepage-guess-command'
if that names a folder, or on variable `exec-path' otherwise."
  :type '(choice (const :tag "Beside codepage-guess" nil) string))

(defvar codepage-guess--warned nil
  "Non-nil once the user has been told that the command is missing.")

(defun codepage-guess--verdict (file)
  "Return the codepage-guess verdict on FILE: 65001, 932 or nil.
Nil when the command is undecided, fails or is not installed."
  (let ((command (executable-find codepage-guess-command)))
    (if (not command)
        (progn
          (unless codepage-guess--warned
            (setq codepage-guess--warned t)
            (message "codepage-guess: %s is not installed; files open as before"
                     codepage-guess-command))
          nil)
      (with-temp-buffer
        (when (eq 0 (call-process command nil t nil (expand-file-name file)))
          (goto-char (point-min))
          (when (re-search-forward "code\\.page=\\([0-9]+\\)" nil t)
            (let ((code-page (string-to-number (match-string 1))))
              (and (memq code-page '(65001 932)) code-page))))))))

(defun codepage-guess--valid-utf-8-p (file)
  "Return non-nil if Emacs decodes FILE as UTF-8 without a raw byte."
  (with-temp-buffer
    (set-buffer-multibyte nil)
    (insert-file-contents-literally file)
    (not (memq 'eight-bit
               (find-charset-string
                (decode-coding-string (buffer-string) 'utf-8-unix t))))))

(defconst codepage-guess--entry '("" . codepage-guess--coding-system)
  "What `codepage-guess-mode' puts first in `file-coding-system-alist'.")

;;;###autoload
(define-minor-mode codepage-guess-mode
  "Open files in the encoding the codepage-guess command decides.
UTF-8 stays UTF-8; Shift_JIS opens as CP932 unless the file is
valid UTF-8.  When the command cannot decide, Emacs's own
detection decides."
  :global t
  :group 'codepage-guess
  (setq file-coding-system-alist
        (delete codepage-guess--entry file-coding-system-alist))
  (when codepage-guess-mode
    (push codepage-guess--entry file-coding-system-alist)))

(defun codepage-guess--coding-system (arguments)
  "Return the coding system for reading a file, or `undecided'.
ARGUMENTS are those of the operation; for `insert-file-contents'
the file name comes first.  Emacs asks only when the user gave no
coding system and the file has no coding cookie or local variable."
  (let ((file (and (eq (car arguments) 'insert-file-contents) (cadr arguments))))
    (or (and codepage-guess-mode (stringp file) (file-regular-p file)
             (file-readable-p file)
             (pcase (codepage-guess--verdict file)
               (65001 'utf-8)
               (932 (if (codepage-guess--valid-utf-8-p file) 'utf-8 'cp932))))
        'undecided)))

;;;###autoload
(defun codepage-guess-explain (&optional file)
  "Say why FILE, by default the current buffer's file, gets its verdict.
Shows both readings' (UTF-8 and Shift_JIS) counts of broken bytes
and scores, and the rule that decided."
  (interactive)
  (let* ((file (or file buffer-file-name (user-error "This buffer visits no file")))
         (scan (or codepage-guess-scan-command
                   (if (file-name-directory codepage-guess-command)
                       (expand-file-name "codepage-scan"
                                         (file-name-directory codepage-guess-command))
                     "codepage-scan")))
         (program (or (executable-find scan)
                      (user-error "codepage-guess: %s is not installed" scan))))
    (with-temp-buffer
      (call-process program nil t nil "--explain" (expand-file-name file))
      (message "%s" (string-trim (buffer-string))))))

(provide 'codepage-guess)

;;; codepage-guess.el ends here
