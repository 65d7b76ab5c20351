;; Prints "file|line|column" for every hit that korvalen-mode parses in the
;; output file given as the first argument, then "first|file|line|column" for
;; where `first-error' goes.  Names go out as their bytes.
(defun korvalen-test--print (&rest parts)
  (let ((coding-system-for-write 'utf-8-unix))
    (write-region (concat (mapconcat #'identity parts "|") "\n") nil "/dev/stdout" t 0)))
(let ((buffer (korvalen-open-output (pop command-line-args-left))))
  (with-current-buffer buffer
    (compilation--ensure-parse (point-max))
    (goto-char (point-min))
    (while (not (eobp))
      (let ((msg (get-text-property (point) 'compilation-message)))
        (when msg
          (let* ((loc (compilation--message->loc msg))
                 (file (car (compilation--loc->file-struct loc)))
                 (col (compilation--loc->col loc)))
            (korvalen-test--print
             (expand-file-name (car file) (or (cadr file) default-directory))
             (number-to-string (compilation--loc->line loc))
             (number-to-string (or col 0))))))
      (forward-line 1))
    (goto-char (point-min)))
  (when (member "first" command-line-args-left)
    (set-buffer buffer)
    (first-error)
    (with-current-buffer (window-buffer)
      (korvalen-test--print "first" (buffer-file-name)
                            (number-to-string (line-number-at-pos (window-point)))
                            (number-to-string (1+ (save-excursion (goto-char (window-point))
                                                                  (- (point) (line-beginning-position)))))))))
(setq command-line-args-left nil)
