" Vim syntax file: ZOQ scripts, PHP source with statement lines.
if exists('b:current_syntax')
  finish
endif
runtime! syntax/php.vim
unlet! b:current_syntax

" <<*row, <<+row
syntax match zoqBlockLine "^<<[*+][A-Za-z0-9]*" contains=zoqOpener,zoqBlockName containedin=ALL
syntax match zoqBlockName "[A-Za-z0-9]\+" contained
" <<title<<expr and <<<name<<expr: the name, then the expression as written
syntax match zoqBinding "^<<<\?[A-Za-z0-9]*<<" contains=zoqOpener,zoqName,zoqSeparator containedin=ALL
syntax match zoqOpener "^<<[*+<]\?" contained
syntax match zoqName "[A-Za-z0-9]\+" contained
syntax match zoqSeparator "\%([A-Za-z0-9]\)\@<=<<" contained

highlight default link zoqOpener Statement
highlight default link zoqSeparator Statement
highlight default link zoqBlockName Type
highlight default link zoqName Identifier

let b:current_syntax = 'zoq'
