#!/usr/bin/env bash
# Writes a site of small pages for the whole-site measurements: FOLDERS folders of PAGES
# pages each, every page a script with a few bindings and a block, and its template.
# Usage: bench/site/gen_site.sh DIR [FOLDERS [PAGES]]   (default: 100 x 100 = 10,000 pages)
set -euo pipefail
dir=${1:?usage: gen_site.sh DIR [FOLDERS [PAGES]]}
folders=${2:-100}
pages=${3:-100}
mkdir -p "$dir"
for ((f = 0; f < folders; f++)); do
  sub=$(printf '%s/section%03d' "$dir" "$f")
  mkdir -p "$sub"
  for ((p = 0; p < pages; p++)); do
    name=$(printf 'page%03d' "$p")
    printf '<?php\r\n$title = "Section %d, page %d";\r\n$items = ["one", "two", "three"];\r\n<<title<<$title\r\n<<section<<%d\r\n<<*item\r\n<<<label<<$item\r\nforeach ($items as $item) {\r\n<<+item\r\n}\r\n' \
      "$f" "$p" "$f" >"$sub/$name.zoq"
    printf '<!DOCTYPE html>\r\n<html><head><title>{title}</title></head>\r\n<body>\r\n<h1>{title}</h1>\r\n<p>Section {section}</p>\r\n<ul>\r\n<!--BEGIN item--><li>{label}</li><!--END item-->\r\n</ul>\r\n</body></html>\r\n' \
      >"$sub/$name.zot"
  done
done
