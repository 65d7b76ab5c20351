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
;; everything before it, the word runs to the first ")".  The first reading
;; whose file exists is taken, else the first (the shortest path): the real
;; head ends the shortest path unless the file name itself holds a
;; look-alike.  Error blocks and separators are no hits.
(defconst korvalen--head-regexp "(\\([0-9]+\\)) :(\\| \\([0-9]+\\):(")
(defconst korvalen--error-prefix "ファイルアクセスでエラーが生じました：")

(defvar-local korvalen--current-dir nil
  "The folder current when the output was opened: relative paths whose
file is not in the output file's folder are taken from here.")

(defun korvalen--resolve (path)
  "PATH of a hit as an absolute file name.
A relative path is taken from the output file's folder (the buffer's
`default-directory') when the file is there, else from the folder that
was current when the output was opened; failing both, from the output's."
  (let ((there (expand-file-name path default-directory)))
    (if (or (file-name-absolute-p path) (file-exists-p there) (null korvalen--current-dir))
        there
      (let ((here (expand-file-name path korvalen--current-dir)))
        (if (file-exists-p here) here there)))))

(defun korvalen-parse-line (line)
  "The hit of LINE as (FILE LINE-NUMBER WORD TEXT), FILE absolute, or nil."
  (unless (or (string-prefix-p korvalen--error-prefix line)
              (string= line "----------"))
    (let ((start 1) (first nil) (found nil))
      (while (and (not found) (string-match korvalen--head-regexp line start))
        (let* ((at (match-beginning 0))
               (word (match-end 0))
               (number (string-to-number (or (match-string 1 line) (match-string 2 line))))
               (close (string-match-p ")" line word)))
          (setq start (1+ at))
          (when close
            (let ((reading (list (korvalen--resolve (substring line 0 at)) number
                                 (substring line word close) (substring line (1+ close)))))
              (if (file-exists-p (car reading))
                  (setq found reading)
                (setq first (or first reading)))))))
      (or found first))))

(defvar korvalen--reading nil "The reading of the line last matched: (POS . HIT).")

(defun korvalen--match-reading ()
  (let ((pos (match-beginning 0)))
    (unless (eq (car korvalen--reading) pos)
      (setq korvalen--reading
            (cons pos (save-excursion
                        (save-match-data
                          (goto-char pos)
                          (korvalen-parse-line
                           (buffer-substring-no-properties pos (line-end-position))))))))
    (cdr korvalen--reading)))

(defun korvalen--match-file ()
  (car (korvalen--match-reading)))

(defun korvalen--match-line ()
  (nth 1 (korvalen--match-reading)))

;; A line with a head anywhere; which head is real, and so the file and the
;; line number, the functions decide.
(defconst korvalen-error-regexp-alist-alist
  `((korvalen ,(concat "^.+?\\(?:" korvalen--head-regexp "\\)")
              korvalen--match-file korvalen--match-line))
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

(define-compilation-mode korvalen-mode "Korvalen"
  "Compilation mode for Korvalen's output file."
  (setq-local compilation-error-regexp-alist '(korvalen))
  ;; The hit text is anyone's text: a line reading like make's "Entering
  ;; directory" must not move where later paths are looked for.
  (setq-local compilation-directory-matcher '("\\`a\\`"))
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
        (let ((inhibit-read-only t))
          (erase-buffer)
          (let ((coding-system-for-read korvalen-coding-system))
            (insert-file-contents file))
          ;; CR LF line ends: drop the CRs so they are not part of the text.
          (goto-char (point-min))
          (while (search-forward "\r\n" nil t)
            (replace-match "\n" t t)))
        (korvalen-mode)
        (setq default-directory dir)
        (setq korvalen--current-dir current)
        (goto-char (point-min)))
      (pop-to-buffer buffer)
      buffer)))

(provide 'korvalen)
;;; korvalen.el ends here
