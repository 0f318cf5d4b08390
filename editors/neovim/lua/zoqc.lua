-- Neovim: .zoq and .zot file types, and zoqc's language server on them.
--   require('zoqc').setup()  -- a site's zoqc.toml gives escape, warnings and lint, as to the build
--   require('zoqc').setup({ cmd = { 'zoqc', '--lsp' }, settings = { escape = true } })  -- without one
-- opts.config is merged into the client's configuration (on_exit, flags, handlers...).
-- Works with Neovim 0.7 (vim.lsp.start_client) and later (vim.lsp.start).
local M = {}

function M.setup(opts)
  opts = opts or {}
  local cmd = opts.cmd or { 'zoqc', '--lsp' }
  local settings = opts.settings or {}
  vim.cmd([[augroup zoqc_filetypes
              autocmd!
              autocmd BufRead,BufNewFile *.zoq set filetype=zoq
              autocmd BufRead,BufNewFile *.zot set filetype=zot
            augroup END]])
  local client_id
  -- The site's root, where its zoqc.toml is (one server for the whole site), else the file's folder.
  local function root_of(buf)
    local dir = vim.fn.fnamemodify(vim.api.nvim_buf_get_name(buf), ':p:h')
    local project = vim.fn.findfile('zoqc.toml', dir .. ';')
    return project ~= '' and vim.fn.fnamemodify(project, ':p:h') or dir
  end
  local function attach(buf)
    local config = {
      name = 'zoqc',
      cmd = cmd,
      root_dir = root_of(buf),
      init_options = settings,
      flags = { debounce_text_changes = 50 },
    }
    config = vim.tbl_extend('force', config, opts.config or {})
    if vim.lsp.start then
      vim.lsp.start(config, { bufnr = buf })
      return
    end
    if not (client_id and vim.lsp.get_client_by_id(client_id)) then client_id = vim.lsp.start_client(config) end
    if client_id then vim.lsp.buf_attach_client(buf, client_id) end
  end
  vim.api.nvim_create_autocmd('FileType', {
    pattern = { 'zoq', 'zot' },
    callback = function(args) attach(args.buf) end,
  })
end

return M
