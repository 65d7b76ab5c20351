;;; korvalen.el --- Jump to the hits of Korvalen's output file  -*- lexical-binding: t; coding: utf-8 -*-

;; Korvalen writes tag-jump lines in code page 932:
;;   path(12) :(word)text     (TagJump on, the default)
;;   path 12:(word)text       (TagJump off)
;; `korvalen-open-output' shows such a file in a compilation-mode buffer, where
;; RET, `next-error' and `previous-error' jump to each hit.  The file name may
;; hold blanks, parentheses, colons and even a head look-alike (then the
;; reading whose file exists wins); the hit text may hold anything.  A
;; relative path is taken from the output file's folder when the file is
;; there, else from the folder current when the output was opened.
;;
;; Usage: (load "/path/to/korvalen.el"), then M-x korvalen-open-output.

;;; Code:

(require 'compile)
(require 'seq)
(require 'subr-x)

(defgroup korvalen nil
  "Jump to the hits of Korvalen's output file."
  :group 'tools)

(defcustom korvalen-ini-file nil
  "Korvalen's INI file, from which the output path is read.
When nil: the file beside the `korvalen' executable in `exec-path' (unless
it is installed), else
$XDG_CONFIG_HOME/korvalen/korvalen.INI."
  :type '(choice (const nil) file))

(defconst korvalen-coding-system 'cp932
  "Korvalen's output file is written in code page 932.")

;; Each head, "(12) :(" or " 12:(", gives one reading of a line: the path is
;; everything before it, the word runs to the first ")".  Heads are found in
;; the line's bytes (no byte of a code page 932 character reads as "(", ")",
;; ":", a blank or a digit).  A path may stand for several names
;; (`korvalen--forms'); the first reading one of whose names is a file is
;; taken, else the first reading's first name: the real head ends the
;; shortest path unless the file name itself holds a look-alike.  Error
;; blocks and separators are no hits.
(defconst korvalen--head-regexp "(\\([0-9]+\\)) :(\\| \\([0-9]+\\):(")
(defconst korvalen--error-text "ファイルアクセスでエラーが生じました："
  "The start of an error block's line.")
(defconst korvalen--error-prefix (encode-coding-string korvalen--error-text 'cp932)
  "The same in the output's bytes.")

;; The forms typed on Linux of the characters that code page 932 reads back
;; in their Windows forms (earlier versions wrote 〜 as ～'s code).
(defconst korvalen--typed-forms
  '((?～ . ?〜) (?－ . ?−) (?― . ?—) (?∥ . ?‖) (?￠ . ?¢) (?￡ . ?£) (?￢ . ?¬)))

(defvar-local korvalen--current-dir nil
  "The folder current when the output was opened: relative paths whose
file is not in the output file's folder are taken from here.")

(defvar-local korvalen--found nil
  "Per path of the output (its bytes): (FILE . FOUND), see `korvalen--find'.")

(defun korvalen--decode (bytes)
  "BYTES of the output as text: code page 932."
  (decode-coding-string bytes korvalen-coding-system t))

(defun korvalen--forms (bytes)
  "The names the path BYTES of the output may stand for, in the order tried:
its code page 932 reading, the same with the Linux forms, the bytes as they
are (names that do not read back from code page 932 are written so)."
  (let ((text (korvalen--decode bytes)) (forms nil))
    ;; Bytes that do not decode come out as raw-byte characters.
    (unless (seq-some (lambda (c) (> c #x3fff7f)) text)
      (push text forms)
      (let ((typed (apply #'string (mapcar (lambda (c) (alist-get c korvalen--typed-forms c))
                                           text))))
        (unless (string= typed text)
          (push typed forms))))
    (let ((raw (decode-coding-string bytes 'utf-8-unix t)))
      (unless (member raw forms)
        (push raw forms)))
    (nreverse forms)))

(defun korvalen--find (bytes)
  "(FILE . FOUND) for the path BYTES of the output: the first of its names
that exists, a relative one taken from the output file's folder (the
buffer's `default-directory'), else from the folder that was current when
the output was opened; none found: the first name, from the output's folder."
  (unless korvalen--found
    (setq korvalen--found (make-hash-table :test #'equal)))
  (or (gethash bytes korvalen--found)
      (puthash bytes
               (let ((forms (korvalen--forms bytes)) (result nil))
                 (while (and forms (not result))
                   (let ((name (pop forms)))
                     (dolist (dir (if (file-name-absolute-p name)
                                      '(nil)
                                    (delq nil (list default-directory korvalen--current-dir))))
                       (let ((file (expand-file-name name dir)))
                         (when (and (not result) (file-exists-p file))
                           (setq result (cons file t)))))))
                 (or result
                     (cons (expand-file-name (car (korvalen--forms bytes)) default-directory) nil)))
               korvalen--found)))

(defun korvalen--column (text word)
  "The column (1-based, in characters) of WORD in TEXT; a word cut by the
line's end (found across a line break): where it begins.  Nil when not there."
  (unless (string-empty-p word)
    (let ((at (string-search word text)))
      (if at
          (1+ at)
        (let ((n (1- (length word))) (found nil))
          (while (and (> n 0) (not found))
            (when (string-suffix-p (substring word 0 n) text)
              (setq found (1+ (- (length text) n))))
            (setq n (1- n)))
          found)))))

(defun korvalen--find-text (path)
  "`korvalen--find' for PATH as read from the output in code page 932."
  (unless korvalen--found
    (setq korvalen--found (make-hash-table :test #'equal)))
  (or (gethash path korvalen--found)
      (puthash path (korvalen--find (encode-coding-string path korvalen-coding-system t))
               korvalen--found)))

(defun korvalen-parse-line (line &optional bytes)
  "The hit of LINE as (FILE LINE-NUMBER WORD TEXT COLUMN AT), or nil.
FILE is absolute.  LINE is text as read from the output in code page 932,
or its bytes; BYTES, when given, are LINE's bytes (for a line that does not
read back as them).  AT is where the head begins in LINE when FILE was
found, else nil."
  (let* ((raw (or bytes (and (not (multibyte-string-p line)) line)))
         (s (or raw line)))
    (unless (or (string-prefix-p (if raw korvalen--error-prefix korvalen--error-text) s)
                (string= s "----------"))
      (let ((start 1) (first nil) (found nil))
        (while (and (not found) (string-match korvalen--head-regexp s start))
          (let* ((at (match-beginning 0))
                 (word (match-end 0))
                 (number (string-to-number (or (match-string 1 s) (match-string 2 s))))
                 (close (string-match-p ")" s word)))
            (setq start (1+ at))
            (when close
              (let ((file (if raw
                              (korvalen--find (substring s 0 at))
                            (korvalen--find-text (substring s 0 at)))))
                (when (or (cdr file) (not first))
                  (let* ((w (substring s word close))
                         (text (substring s (1+ close)))
                         (w (if raw (korvalen--decode w) w))
                         (text (if raw (korvalen--decode text) text))
                         (reading (list (car file) number w text (korvalen--column text w)
                                        (and (cdr file) at))))
                    (if (cdr file)
                        (setq found reading)
                      (setq first reading))))))))
        (or found first)))))

(defvar korvalen--reading nil "The reading of the line last matched: (POS . HIT).")

(defvar-local korvalen--lead nil
  "(LEAD REGEXP FILE) of the last hit whose file was found: its line up to the
head's first character, what the rest of such a head looks like, the file.
A line that starts with LEAD and has such a head right there is the next hit
of FILE (the readings before it name the same missing files), read without
looking the path up again.")

(defun korvalen--next-hit (pos)
  "The hit of the line at POS when it is the next hit of `korvalen--lead'."
  (let* ((lead (car korvalen--lead))
         (end (+ pos (length lead))))
    (and lead (<= end (point-max))
         (not (get-text-property pos 'korvalen-bytes))
         (let ((case-fold-search nil))
           (goto-char pos)
           ;; Bounded so: found only when it starts at POS.
           (and (search-forward lead end t)
                (looking-at (nth 1 korvalen--lead))))
         (let* ((after (match-end 0))
                (number (string-to-number (match-string-no-properties 1)))
                (word (match-string-no-properties 2))
                (eol (line-end-position))
                (column (if (and (not (string-empty-p word)) (goto-char after)
                                 (search-forward word eol t))
                            (- (match-beginning 0) after -1)
                          (korvalen--column (buffer-substring-no-properties after eol) word))))
           (list (nth 2 korvalen--lead) number word nil column)))))

(defun korvalen--match-reading ()
  (let ((pos (match-beginning 0)))
    (unless (eq (car korvalen--reading) pos)
      (setq korvalen--reading
            (cons pos (save-excursion
                        (save-match-data
                          (or (korvalen--next-hit pos)
                              (let* ((line (buffer-substring-no-properties
                                            pos (progn (goto-char pos) (line-end-position))))
                                     (hit (korvalen-parse-line
                                           line (get-text-property pos 'korvalen-bytes)))
                                     (at (nth 5 hit)))
                                (setq korvalen--lead
                                      (and at (not (get-text-property pos 'korvalen-bytes))
                                           (list (substring line 0 (1+ at))
                                                 (if (eq (aref line at) ?\()
                                                     "\\([0-9]+\\)) :(\\([^)\n]*\\))"
                                                   "\\([0-9]+\\):(\\([^)\n]*\\))")
                                                 (car hit))))
                                hit)))))))
    (cdr korvalen--reading)))

(defun korvalen--match-file ()
  (car (korvalen--match-reading)))

(defun korvalen--match-line ()
  (nth 1 (korvalen--match-reading)))

(defun korvalen--match-column ()
  (nth 4 (korvalen--match-reading)))

;; A line with a head anywhere; which head is real, and so the file and the
;; line number, the functions decide.
(defconst korvalen-error-regexp-alist-alist
  `((korvalen ,(concat "^.+?\\(?:" korvalen--head-regexp "\\)")
              korvalen--match-file korvalen--match-line korvalen--match-column))
  "Entries for `compilation-error-regexp-alist-alist'.")

(dolist (entry korvalen-error-regexp-alist-alist)
  (setf (alist-get (car entry) compilation-error-regexp-alist-alist) (cdr entry)))

(defun korvalen--next-error-function (n &optional reset)
  "`next-error-function' that also reaches a hit on the buffer's first line.
Compilation mode starts looking after the first character, so it would
never visit a hit there."
  (when reset
    (setq compilation-current-error nil))
  (if (and (> n 0) (null compilation-current-error)
           (save-excursion
             (compilation--ensure-parse (point-min))
             (get-text-property (point-min) 'compilation-message)))
      (progn
        (setq compilation-current-error (point-min-marker))
        (compilation-next-error-function (1- n)))
    (compilation-next-error-function n)))

(defun korvalen--ini-file ()
  (or korvalen-ini-file
      (let* ((exe (executable-find "korvalen"))
             (dir (and exe (file-name-directory (file-truename exe))))
             (ini (and exe (concat (file-name-sans-extension exe) ".INI"))))
        ;; An installed korvalen never keeps its settings beside itself.
        (and ini (file-readable-p ini)
             (not (string-match-p "\\`/\\(usr/\\(local/\\)?\\)?s?bin/\\'\\|\\`/usr/games/\\'" dir))
             (not (file-directory-p (expand-file-name "../share/korvalen" dir)))
             ini))
      (expand-file-name "korvalen/korvalen.INI"
                        (or (getenv "XDG_CONFIG_HOME") "~/.config"))))

(defun korvalen-output-from-ini (ini)
  "The value of OutputFile in section [File] of INI, or nil."
  (when (file-readable-p ini)
    (with-temp-buffer
      (insert-file-contents ini)
      (let ((section nil) (found nil))
        (goto-char (point-min))
        (while (and (not found) (not (eobp)))
          (let ((line (buffer-substring-no-properties
                       (line-beginning-position) (line-end-position))))
            (setq line (string-trim-right line "\r"))
            (cond ((string-match "^[ \t]*\\[\\(.*\\)\\][ \t]*$" line)
                   (setq section (match-string 1 line)))
                  ((and (equal section "File")
                        (string-match "^[ \t]*OutputFile[ \t]*=\\(.*\\)$" line))
                   (setq found (match-string 1 line)))))
          (forward-line 1))
        (and found (not (string-empty-p found)) found)))))

(defun korvalen--insert-output (file)
  "Insert FILE's lines read as code page 932, without their CRs.
When the text does not encode back to the file's bytes (the NEC and IBM
twins of code page 932 read back as one code), each line that differs keeps
its bytes in the property `korvalen-bytes', so that its path is found as
written."
  (let* ((coding (coding-system-change-eol-conversion korvalen-coding-system 'unix))
         (raw (with-temp-buffer
                (set-buffer-multibyte nil)
                (insert-file-contents-literally file)
                (buffer-string)))
         (text (decode-coding-string raw coding t))
         (start 0))
    (if (string= (encode-coding-string text coding t) raw)
        (insert text)
      (while (< start (length raw))
        (let* ((stop (or (string-search "\n" raw start) (length raw)))
               (bytes (substring raw start stop))
               (line (decode-coding-string bytes coding t)))
          (insert (if (string= (encode-coding-string line coding t) bytes)
                      line
                    (propertize line 'korvalen-bytes (string-trim-right bytes "\r")))
                  (if (< stop (length raw)) "\n" ""))
          (setq start (1+ stop)))))
    ;; CR LF line ends: drop the CRs so they are not part of the text.
    (goto-char (point-min))
    (while (search-forward "\r\n" nil t)
      (replace-match "\n" t t))))

(define-compilation-mode korvalen-mode "Korvalen"
  "Compilation mode for Korvalen's output file."
  (setq-local compilation-error-regexp-alist '(korvalen))
  ;; The hit text is anyone's text: a line reading like make's "Entering
  ;; directory" must not move where later paths are looked for.
  (setq-local compilation-directory-matcher '("\\`a\\`"))
  ;; Columns count characters: a tab is one, as in the hit's text.
  (setq-local compilation-error-screen-columns nil)
  (setq-local next-error-function #'korvalen--next-error-function))

;;;###autoload
(defun korvalen-open-output (&optional file)
  "Show Korvalen's output FILE in a compilation-mode buffer.
Without FILE, the output file named in Korvalen's INI file."
  (interactive
   (list (read-file-name "Korvalen output: " nil
                         (korvalen-output-from-ini (korvalen--ini-file)) t)))
  (let ((file (or file (korvalen-output-from-ini (korvalen--ini-file))
                  (user-error "No output file named in %s" (korvalen--ini-file)))))
    (unless (file-readable-p file)
      (user-error "Cannot read %s" file))
    (let ((buffer (get-buffer-create (format "*korvalen: %s*" (file-name-nondirectory file))))
          (dir (file-name-directory (expand-file-name file)))
          (current default-directory))
      (with-current-buffer buffer
        ;; A view of the file: no undo to record a million hits into.
        (buffer-disable-undo)
        (let ((inhibit-read-only t)
              ;; The file is read and decoded whole: a few large strings,
              ;; nothing for the collector to find between them.
              (gc-cons-threshold (max gc-cons-threshold (* 64 1024 1024))))
          (erase-buffer)
          (korvalen--insert-output file))
        (korvalen-mode)
        (setq default-directory dir)
        (setq korvalen--current-dir current)
        (goto-char (point-min)))
      (pop-to-buffer buffer)
      buffer)))

;; Loaded from source (as `load' of the .el does), the functions run for
;; every hit are compiled now: interpreted, each binding conses, and a
;; million hits keep the collector busy.
(dolist (f '(korvalen--next-hit korvalen--match-reading korvalen-parse-line korvalen--column
             korvalen--match-file korvalen--match-line korvalen--match-column
             korvalen--find korvalen--find-text korvalen--forms korvalen--decode
             korvalen--insert-output))
  (unless (byte-code-function-p (symbol-function f))
    (byte-compile f)))

(provide 'korvalen)
;;; korvalen.el ends here
