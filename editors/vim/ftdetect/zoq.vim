" ZOQ scripts and templates.
autocmd BufRead,BufNewFile *.zoq set filetype=zoq
autocmd BufRead,BufNewFile *.zot set filetype=zot
