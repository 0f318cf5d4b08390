#!/usr/bin/env bash
# Runs one real editor's scripted session with `zoqc --lsp` on a fresh copy of the blog
# example: neovim (headless), emacs (batch, eglot) or node (the protocol's Node client).
# Exit code 77: skipped, the editor (or editors/vscode/node_modules) is not installed; see
# scripts/setup-editors. Usage: run_session.sh CLIENT ZOQC SOURCE_DIR
set -euo pipefail
client=$1
zoqc=$(realpath "$2")
source_dir=$(realpath "$3")
here=$source_dir/tests/editors
case $client in
  neovim) command -v nvim >/dev/null || { echo "nvim not found: skipped; scripts/setup-editors installs Neovim"; exit 77; } ;;
  emacs)
    command -v emacs >/dev/null || { echo "emacs not found: skipped; scripts/setup-editors installs Emacs"; exit 77; }
    emacs --batch --eval "(require 'eglot)" >/dev/null 2>&1 || { echo "eglot not found: skipped; scripts/setup-editors installs Emacs with eglot"; exit 77; }
    ;;
  node)
    command -v node >/dev/null && [ -d "$source_dir/editors/vscode/node_modules/vscode-jsonrpc" ] ||
      { echo "node or editors/vscode/node_modules missing: skipped; scripts/setup-editors installs them"; exit 77; }
    ;;
  *) echo "unknown client '$client'" >&2; exit 2 ;;
esac

page_dir=$(mktemp -d)
trap 'rm -rf "$page_dir"' EXIT
cp "$source_dir/examples/blog/blog.zoq" "$source_dir/examples/blog/blog.zot" "$page_dir"
export ZOQC=$zoqc PAGE_DIR=$page_dir EDITORS=$source_dir/editors
# A client that stops answering is ended: a session never hangs the suite.
case $client in
  neovim) (cd "$here" && timeout 60 nvim --headless --clean -n -c "luafile neovim_session.lua" </dev/null) ;;
  emacs) (cd "$here" && timeout 60 emacs --batch -l emacs_session.el </dev/null) ;;
  node) timeout 60 node "$source_dir/editors/vscode/test/client_session.js" "$zoqc" "$page_dir" </dev/null ;;
esac
