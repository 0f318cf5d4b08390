" Vim syntax file: ZOQ templates, HTML with placeholders and block markers.
if exists('b:current_syntax')
  finish
endif
runtime! syntax/html.vim
unlet! b:current_syntax

" <!--BEGIN row--> and <!--END row-->, exactly so
syntax match zotMarker "<!--\(BEGIN\|END\) [A-Za-z0-9]\+-->" contains=zotMarkerName containedin=ALL
syntax match zotMarkerName " \zs[A-Za-z0-9]\+\ze-->" contained
" {name}
syntax match zotPlaceholder "{[A-Za-z0-9]\+}" containedin=ALL

highlight default link zotMarker Statement
highlight default link zotMarkerName Type
highlight default link zotPlaceholder Identifier

let b:current_syntax = 'zot'
