;;; korvalen.el --- Jump to the hits of Korvalen's output file  -*- lexical-binding: t; -*-

;; Korvalen writes tag-jump lines in code page 932:
;;   path(12) :(word)text     (TagJump on, the default)
;;   path 12:(word)text       (TagJump off)
;; `korvalen-open-output' shows such a file in a compilation-mode buffer, where
;; RET, `next-error' and `previous-error' jump to each hit.  The file name may
;; hold blanks and parentheses; the hit text may hold anything.
;;
;; Usage: (load "/path/to/korvalen.el"), then M-x korvalen-open-output.

;;; Code:

(require 'compile)

(defgroup korvalen nil
  "Jump to the hits of Korvalen's output file."
  :group 'tools)

(defcustom korvalen-ini-file nil
  "Korvalen's INI file, from which the output path is read.
When nil: the file beside the `korvalen' executable in `exec-path', else
$XDG_CONFIG_HOME/korvalen/korvalen.INI."
  :type '(choice (const nil) file))

(defconst korvalen-coding-system 'cp932
  "Korvalen's output file is written in code page 932.")

;; The two heads in one pattern: the shortest file name after which either
;; head fits is the real one, since a look-alike in the hit text comes later.
;; A path may hold blanks and parentheses.
(defconst korvalen-error-regexp-alist-alist
  '((korvalen
     "^\\(?1:.+?\\)\\(?:(\\(?2:[0-9]+\\)) :(\\| \\(?2:[0-9]+\\):(\\)" 1 2))
  "Entries for `compilation-error-regexp-alist-alist'.")

(dolist (entry korvalen-error-regexp-alist-alist)
  (setf (alist-get (car entry) compilation-error-regexp-alist-alist) (cdr entry)))

(defun korvalen--ini-file ()
  (or korvalen-ini-file
      (let* ((exe (executable-find "korvalen"))
             (ini (and exe (concat (file-name-sans-extension exe) ".INI"))))
        (and ini (file-readable-p ini) ini))
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
  (setq-local compilation-error-regexp-alist '(korvalen)))

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
          (dir (file-name-directory (expand-file-name file))))
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
        (goto-char (point-min)))
      (pop-to-buffer buffer)
      buffer)))

(provide 'korvalen)
;;; korvalen.el ends here
