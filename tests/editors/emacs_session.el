;;; emacs_session.el --- a scripted eglot session with zoqc --lsp -*- lexical-binding: t -*-
;; Batch Emacs with eglot on a copy of the blog example: the diagnostic of an injected mistake,
;; a definition, the quick fix and a rename.  Exit code 0 when every step worked.
;; Run: ZOQC=... PAGE_DIR=... EDITORS=.../editors emacs --batch -l emacs_session.el
;; Batch mode runs neither `post-command-hook' nor idle timers: the session runs the hook itself
;; and sends each change at once.

(require 'cl-lib)
(require 'eglot)
(add-to-list 'load-path (expand-file-name "emacs" (getenv "EDITORS")))
(require 'zoq-mode)
(setq zoq-zoqc-program (getenv "ZOQC"))
(setq zoq-warnings '("-Werror"))  ; the switches reach the server: warnings come as errors
(setq eglot-sync-connect t eglot-autoshutdown nil)

(defvar zoq-test-published (make-hash-table :test 'equal)
  "What the server published last, by URI.")
(cl-defmethod eglot-handle-notification :before
  (_server (_method (eql textDocument/publishDiagnostics)) &key uri diagnostics &allow-other-keys)
  (puthash uri diagnostics zoq-test-published))

(defun zoq-test-fail (format &rest args)
  (princ (concat "emacs client: " (apply #'format format args) "\n") #'external-debugging-output)
  (kill-emacs 1))

(defun zoq-test-wait (uri ready what)
  "Waits until READY holds for the diagnostics of URI."
  (let ((deadline (+ (float-time) 10)))
    (while (not (and (gethash uri zoq-test-published 'none)
                     (not (eq (gethash uri zoq-test-published 'none) 'none))
                     (funcall ready (append (gethash uri zoq-test-published) nil))))
      (when (> (float-time) deadline) (zoq-test-fail "waited in vain for %s" what))
      (accept-process-output nil 0.02))
    (append (gethash uri zoq-test-published) nil)))

(defun zoq-test-open (file)
  (find-file file)
  (eglot-ensure)
  (run-hooks 'post-command-hook)
  (unless (eglot-current-server) (zoq-test-fail "no server for %s" file))
  (current-buffer))

(defun zoq-test-find (buffer text &optional shift)
  "The LSP position of TEXT (SHIFT characters on) in BUFFER."
  (with-current-buffer buffer
    (goto-char (point-min))
    (unless (search-forward text nil t) (zoq-test-fail "not found: %s" text))
    (eglot--pos-to-lsp-position (+ (match-beginning 0) (or shift 0)))))

(defun zoq-test-changed (&rest buffers)
  (dolist (buffer buffers)
    (with-current-buffer buffer (eglot--signal-textDocument/didChange))))

(condition-case err
    (let* ((dir (file-name-as-directory (getenv "PAGE_DIR")))
           (tbuf (zoq-test-open (concat dir "blog.zot")))
           (sbuf (zoq-test-open (concat dir "blog.zoq")))
           (server (eglot-current-server))
           (suri (eglot--path-to-uri (buffer-file-name sbuf)))
           (turi (eglot--path-to-uri (buffer-file-name tbuf))))
      (zoq-test-wait suri #'null "a clean script")
      ;; The mistake: "<<+entry" becomes "<<+entyr".
      (with-current-buffer sbuf
        (goto-char (point-min))
        (search-forward "<<+entry")
        (replace-match "<<+entyr" t t))
      (zoq-test-changed sbuf)
      (let* ((list (zoq-test-wait suri (lambda (l) (and l (equal (plist-get (car l) :code) "unknown-block")))
                                  "the unknown-block warning"))
             (mistake (car list)))
        (unless (equal (plist-get (plist-get (plist-get mistake :range) :start) :line)
                       (plist-get (zoq-test-find sbuf "<<+entyr") :line))
          (zoq-test-fail "the warning is on the wrong line"))
        (unless (eql (plist-get mistake :severity) 1)
          (zoq-test-fail "zoq-warnings did not reach the server: %S" mistake))
        ;; Definition: from {headline} to its binding.
        (let* ((answer (jsonrpc-request server :textDocument/definition
                                        (list :textDocument (list :uri turi)
                                              :position (zoq-test-find tbuf "{headline}" 2))))
               (target (if (vectorp answer) (aref answer 0) answer)))
          (unless (and (equal (plist-get target :uri) suri)
                       (equal (plist-get (plist-get (plist-get target :range) :start) :line)
                              (plist-get (zoq-test-find sbuf "<<<headline") :line)))
            (zoq-test-fail "definition: %S" target)))
        ;; Hover, in plain text unless this Emacs shows Markdown.
        (let* ((hover (jsonrpc-request server :textDocument/hover
                                       (list :textDocument (list :uri turi)
                                             :position (zoq-test-find tbuf "{headline}" 2))))
               (contents (plist-get hover :contents)))
          (unless (or (fboundp 'gfm-view-mode)
                      (and (equal (plist-get contents :kind) "plaintext")
                           (not (string-match-p "`" (plist-get contents :value)))))
            (zoq-test-fail "hover: %S" contents)))
        ;; The quick fix.
        (with-current-buffer sbuf
          (let* ((beg (eglot--lsp-position-to-point (plist-get (plist-get mistake :range) :start)))
                 (actions (eglot-code-actions beg (1+ beg)))
                 (fix (cl-find-if (lambda (a) (equal (plist-get a :kind) "quickfix"))
                                  (append actions nil))))
            (unless fix (zoq-test-fail "no quick fix in %S" actions))
            (eglot--apply-workspace-edit (plist-get fix :edit))))
        (zoq-test-changed sbuf)
        (zoq-test-wait suri #'null "the fixed script")
        (zoq-test-find sbuf "\n<<+entry\n"))
      ;; Rename the block from its "<<*entry" line.
      (with-current-buffer sbuf
        (goto-char (point-min))
        (search-forward "<<*entry")
        (backward-char 2)
        (eglot-rename "post"))
      (zoq-test-changed sbuf tbuf)
      (zoq-test-wait turi #'null "a clean template")
      (zoq-test-wait suri #'null "a clean script after the rename")
      (zoq-test-find tbuf "<!--BEGIN post-->")
      (zoq-test-find tbuf "<!--END post-->")
      (zoq-test-find sbuf "<<*post\n")
      (with-current-buffer tbuf
        (goto-char (point-min))
        (when (search-forward "entry-->" nil t) (zoq-test-fail "the rename missed a marker")))
      ;; Shutdown and exit by hand: eglot-shutdown kills the process without waiting for it.
      (let ((process (jsonrpc--process server))
            (deadline (+ (float-time) 10)))
        (jsonrpc-request server :shutdown nil)
        (jsonrpc-notify server :exit nil)
        (while (process-live-p process)
          (when (> (float-time) deadline) (zoq-test-fail "the server did not exit"))
          (accept-process-output nil 0.02))
        (unless (eql (process-exit-status process) 0)
          (zoq-test-fail "the server exited with %s" (process-exit-status process))))
      (princ "emacs client: session passed\n" #'external-debugging-output)
      (kill-emacs 0))
  (error (zoq-test-fail "%S" err)))
