;; Prints "file|line" for every hit that korvalen-mode parses in the output
;; file given as the first argument.
(let ((buffer (korvalen-open-output (pop command-line-args-left))))
  (with-current-buffer buffer
    (compilation--ensure-parse (point-max))
    (goto-char (point-min))
    (while (not (eobp))
      (let ((msg (get-text-property (point) 'compilation-message)))
        (when msg
          (let ((loc (compilation--message->loc msg)))
            (princ (format "%s|%d\n" (caar (compilation--loc->file-struct loc))
                           (compilation--loc->line loc))))))
      (forward-line 1))))
