;;; zoq-mode.el --- ZOQ scripts (.zoq) and templates (.zot), with zoqc's language server -*- lexical-binding: t -*-

;; Add this folder to `load-path', then (require 'zoq-mode).  M-x eglot in a .zoq or .zot
;; buffer starts "zoqc --lsp" (set `zoq-zoqc-program' when zoqc is not on `exec-path'), with
;; the warning switches of `zoq-warnings' and, when `zoq-lint' is on, PHP's parse errors.

;;; Code:

(defgroup zoq nil "ZOQ scripts and templates." :group 'languages)

(defcustom zoq-zoqc-program "zoqc"
  "The zoqc program, which serves the language with \"zoqc --lsp\"."
  :type 'string)

(defcustom zoq-warnings nil
  "Warning switches for the language server, as zoqc takes them: (\"-Wall\" \"-Wno-bom\")."
  :type '(repeat string))

(defcustom zoq-lint nil
  "Non-nil: the language server also reports PHP's own parse errors (it needs php-cli)."
  :type 'boolean)

(defconst zoq--name "[A-Za-z0-9]+")

(defvar zoq-font-lock-keywords
  `((,(concat "^\\(<<[*+]\\)\\(" zoq--name "\\)") (1 font-lock-keyword-face) (2 font-lock-type-face))
    (,(concat "^\\(<<<?\\)\\(" zoq--name "\\)\\(<<\\)")
     (1 font-lock-keyword-face) (2 font-lock-variable-name-face) (3 font-lock-keyword-face)))
  "Colours of the statement lines of a script.")

(defvar zot-font-lock-keywords
  `((,(concat "\\(<!--\\)\\(BEGIN\\|END\\) \\(" zoq--name "\\)\\(-->\\)")
     (1 font-lock-keyword-face t) (2 font-lock-keyword-face t) (3 font-lock-type-face t)
     (4 font-lock-keyword-face t))
    (,(concat "{\\(" zoq--name "\\)}") (0 font-lock-variable-name-face t)))
  "Colours of the markers and placeholders of a template.")

;;;###autoload
(define-derived-mode zoq-mode prog-mode "ZOQ"
  "Major mode for ZOQ scripts: PHP with statement lines."
  (setq-local comment-start "// ")
  (setq-local font-lock-defaults '(zoq-font-lock-keywords)))

;;;###autoload
(define-derived-mode zot-mode html-mode "ZOT"
  "Major mode for ZOQ templates: HTML with placeholders and block markers."
  (font-lock-add-keywords nil zot-font-lock-keywords))

;;;###autoload
(add-to-list 'auto-mode-alist '("\\.zoq\\'" . zoq-mode))
;;;###autoload
(add-to-list 'auto-mode-alist '("\\.zot\\'" . zot-mode))

(with-eval-after-load 'eglot
  (add-to-list 'eglot-server-programs
               `((zoq-mode zot-mode)
                 . ,(lambda (&rest _)
                      (list zoq-zoqc-program "--lsp" :initializationOptions
                            (list :warnings (vconcat zoq-warnings)
                                  :lint (if zoq-lint t :json-false)))))))

(provide 'zoq-mode)
;;; zoq-mode.el ends here
