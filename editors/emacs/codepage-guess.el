;;; codepage-guess.el --- Open Japanese files in the encoding they are in -*- lexical-binding: t -*-

;; Copyright (C) 2026 The codepage-guess authors

;; Author: The codepage-guess authors
;; Version: 2.1.0
;; Package-Requires: ((emacs "25.1"))
;; Keywords: i18n, files
;; URL: https://codepage-guess.org

;; This file is not part of GNU Emacs.

;; Permission is hereby granted, free of charge, to any person obtaining a
;; copy of this software, to deal in it without restriction, under the terms
;; of the MIT licence that comes with it.

;;; Commentary:

;; When `codepage-guess-mode' is on, a file being visited whose coding
;; system nothing else has chosen is given to codepage-scan, which says
;; what it is, and read accordingly:
;;
;;  - UTF-8 (valid UTF-8 wins), with its signature if it has one;
;;  - Shift_JIS, or lines of UTF-8 among lines of Shift_JIS: CP932
;;    (Windows' Shift_JIS, extensions included);
;;  - EUC-JP, ISO-2022-JP, UTF-16 with a byte order mark: as themselves;
;;  - anything else, or the scan fails or is not installed: Emacs decides as
;;    it always does.
;;
;; Without codepage-scan, the codepage-guess verdict decides instead (UTF-8,
;; or CP932 unless the file's start is valid UTF-8).
;;
;; Everything else comes first: a coding system the user gives (C-x RET c),
;; coding cookies and local variables, `auto-coding-alist',
;; `auto-coding-regexp-alist', `auto-coding-functions' (XML and HTML
;; declarations), and every entry of `file-coding-system-alist' (the user's,
;; `.po' files, LaTeX's inputenc) but its last catch-all, before which the
;; mode puts its own.  Only a visited file is looked at: `load' and plain
;; `insert-file-contents' never start the scan.  The line ending is
;; detected as usual, and bytes that do not convert are kept as raw bytes,
;; so a file saved without changes keeps every byte.
;;
;; To use it, put this file on `load-path' (the Debian package does) and:
;;
;;   (codepage-guess-mode 1)
;;
;; M-x codepage-guess-explain says why the current file got its verdict.

;;; Code:

(require 'json)
(require 'subr-x)

(defgroup codepage-guess nil
  "Open Japanese files in the encoding they are in."
  :group 'i18n
  :prefix "codepage-guess-")

(defcustom codepage-guess-command "codepage-guess"
  "The codepage-guess command: a name on variable `exec-path' or a full path."
  :type 'string)

(defcustom codepage-guess-scan-command nil
  "The codepage-scan command, which says what each file is.
When nil, codepage-scan in the folder of `codepage-guess-command'
if that names a folder, or on variable `exec-path' otherwise."
  :type '(choice (const :tag "Beside codepage-guess" nil) string))

(defvar codepage-guess--warned nil
  "Non-nil once the user has been told that the command is missing.")

(defun codepage-guess--scan-program ()
  "Return the full name of the codepage-scan program, or nil."
  (executable-find
   (or codepage-guess-scan-command
       (if (file-name-directory codepage-guess-command)
           (expand-file-name "codepage-scan" (file-name-directory codepage-guess-command))
         "codepage-scan"))))

(defun codepage-guess--describe (program file)
  "Return the kind of FILE that PROGRAM, codepage-scan, gives, as an alist, or nil.
The alist holds the fields of its JSON: `kind', `bom', `code_page'."
  (with-temp-buffer
    (when (eq 0 (call-process program nil '(t nil) nil
                              "--json" "--no-summary" "--no-ignore" "--"
                              (expand-file-name file)))
      (goto-char (point-min))
      (let ((json-object-type 'alist)
            (json-false nil))
        (ignore-errors (json-read))))))

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

(defconst codepage-guess--utf-8-checked 65536
  "How many bytes of a file the check for valid UTF-8 reads.")

(defun codepage-guess--valid-utf-8-start-p (file)
  "Return non-nil if the start of FILE decodes as UTF-8 without a raw byte.
Only the first `codepage-guess--utf-8-checked' bytes are read, so that
a large file costs no more than a small one; a character cut by that
end is no error."
  (with-temp-buffer
    (set-buffer-multibyte nil)
    (insert-file-contents-literally file nil 0 codepage-guess--utf-8-checked)
    (let ((bytes (buffer-string)))
      (when (= (length bytes) codepage-guess--utf-8-checked)
        ;; Drop a character the limit may have cut.
        (setq bytes (replace-regexp-in-string "[\300-\377][\200-\277]*\\'" "" bytes)))
      (not (memq 'eight-bit (find-charset-string (decode-coding-string bytes 'utf-8-unix t)))))))

(defun codepage-guess--coding-for (file)
  "Return the coding system to read FILE with, or nil to leave it to Emacs."
  (let ((scan (codepage-guess--scan-program)))
    (if scan
        (let* ((description (codepage-guess--describe scan file))
               (kind (cdr (assq 'kind description))))
          (pcase kind
            ("utf-8" (if (cdr (assq 'bom description)) 'utf-8-with-signature 'utf-8))
            ((or "shift_jis" "mixed") 'cp932)
            ("euc-jp" 'euc-jp)
            ("iso-2022-jp" 'iso-2022-jp)
            ("utf-16le" 'utf-16le-with-signature)
            ("utf-16be" 'utf-16be-with-signature)
            (_ nil)))
      (pcase (codepage-guess--verdict file)
        (65001 'utf-8)
        (932 (if (codepage-guess--valid-utf-8-start-p file) 'utf-8 'cp932))))))

(defvar codepage-guess-mode)

(defun codepage-guess--coding-system (arguments)
  "Return the coding system for reading a file, or `undecided'.
ARGUMENTS are those of the operation, as `find-operation-coding-system'
passes them: for `insert-file-contents' the file name, then VISIT.
Only a file being visited is looked at; Emacs asks only when the
user gave no coding system and nothing before this entry of
`file-coding-system-alist' decided."
  (let ((file (and (eq (car arguments) 'insert-file-contents) (nth 1 arguments)))
        (visit (nth 2 arguments)))
    (or (and codepage-guess-mode visit (stringp file) (file-regular-p file)
             (file-readable-p file)
             (codepage-guess--coding-for file))
        'undecided)))

(defconst codepage-guess--entry '("" . codepage-guess--coding-system)
  "What `codepage-guess-mode' puts in `file-coding-system-alist'.")

(defun codepage-guess--install (on)
  "Take the mode's entry out of `file-coding-system-alist'; with ON, put it back.
It goes before the last entry when that is Emacs's catch-all for
every file name, and at the end otherwise, so that every other
entry keeps deciding for the files it names."
  (setq file-coding-system-alist (delete codepage-guess--entry file-coding-system-alist))
  (when on
    (let ((last (last file-coding-system-alist)))
      (if (and last (equal (car-safe (car last)) ""))
          (setq file-coding-system-alist
                (append (butlast file-coding-system-alist)
                        (list codepage-guess--entry (car last))))
        (setq file-coding-system-alist
              (append file-coding-system-alist (list codepage-guess--entry)))))))

;;;###autoload
(define-minor-mode codepage-guess-mode
  "Open Japanese files in the encoding they are in.
A visited file whose coding system nothing else decides is read as
codepage-scan says it is: UTF-8, Shift_JIS (as CP932), EUC-JP,
ISO-2022-JP or UTF-16; anything else is left to Emacs."
  :global t
  :group 'codepage-guess
  (codepage-guess--install codepage-guess-mode))

;;;###autoload
(defun codepage-guess-explain (&optional file)
  "Say why FILE, by default the current buffer's file, gets its verdict.
Shows both readings' (UTF-8 and Shift_JIS) counts of broken bytes
and scores, and the rule that decided."
  (interactive)
  (let* ((file (or file buffer-file-name (user-error "This buffer visits no file")))
         (program (or (codepage-guess--scan-program)
                      (user-error "Codepage-guess: codepage-scan is not installed"))))
    (with-temp-buffer
      (call-process program nil t nil "--explain" (expand-file-name file))
      (message "%s" (string-trim (buffer-string))))))

(provide 'codepage-guess)

;;; codepage-guess.el ends here
