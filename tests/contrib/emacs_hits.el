;; Prints "file|line" for every hit that korvalen-mode parses in the output
;; file given as the first argument, then "first|file|line" for where
;; `first-error' goes.
(let ((buffer (korvalen-open-output (pop command-line-args-left))))
  (with-current-buffer buffer
    (compilation--ensure-parse (point-max))
    (goto-char (point-min))
    (while (not (eobp))
      (let ((msg (get-text-property (point) 'compilation-message)))
        (when msg
          (let* ((loc (compilation--message->loc msg))
                 (file (car (compilation--loc->file-struct loc))))
            (princ (format "%s|%d\n" (expand-file-name (car file) (or (cadr file) default-directory))
                           (compilation--loc->line loc))))))
      (forward-line 1))
    (goto-char (point-min)))
  (when (member "first" command-line-args-left)
    (set-buffer buffer)
    (first-error)
    (with-current-buffer (window-buffer)
      (princ (format "first|%s|%d\n" (buffer-file-name) (line-number-at-pos (window-point)))))))
(setq command-line-args-left nil)
