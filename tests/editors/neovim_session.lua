-- A scripted session of Neovim's own LSP client (headless) with `zoqc --lsp` on a copy of the
-- blog example: the diagnostic of an injected mistake, a definition, the quick fix, a rename.
-- Run: ZOQC=... PAGE_DIR=... nvim --headless --clean -n -c "luafile neovim_session.lua"
-- Any failure ends Neovim with exit code 1 (cquit); a Lua error too (xpcall), never a hang.
local function session()
  local zoqc, folder = os.getenv('ZOQC'), os.getenv('PAGE_DIR')
  local published = {}
  local exit_code
  -- The package's own set-up: file types, and the client started for each buffer.
  vim.opt.runtimepath:append(os.getenv('EDITORS') .. '/neovim')
  require('zoqc').setup({
    cmd = { zoqc, '--lsp' },
    config = {
      flags = { debounce_text_changes = 0 },
      handlers = {
        ['textDocument/publishDiagnostics'] = function(err, result, ctx, config)
          published[result.uri] = result.diagnostics
          return vim.lsp.diagnostic.on_publish_diagnostics(err, result, ctx, config)
        end,
      },
      on_exit = function(code) exit_code = code end,
    },
  })
  local function open(name)
    vim.cmd('edit ' .. folder .. '/' .. name)
    local buf = vim.api.nvim_get_current_buf()
    assert(vim.bo[buf].filetype == name:sub(-3), 'no file type for ' .. name)
    return buf, vim.uri_from_bufnr(buf)
  end
  local tbuf, turi = open('blog.zot')
  local sbuf, suri = open('blog.zoq')
  local client
  assert(vim.wait(5000, function()
    client = vim.lsp.get_active_clients()[1]
    return client ~= nil and client.initialized
  end, 10), 'no initialized client')
  assert(#vim.lsp.buf_get_clients(tbuf) == 1 and #vim.lsp.buf_get_clients(sbuf) == 1,
    'the buffers do not share the client')
  local function wait_for(uri, ready, what)
    assert(vim.wait(5000, function() return published[uri] ~= nil and ready(published[uri]) end, 10),
      'waited in vain for ' .. what)
    return published[uri]
  end
  local function find(buf, text, shift)
    for idx, line in ipairs(vim.api.nvim_buf_get_lines(buf, 0, -1, false)) do
      local at = line:find(text, 1, true)
      if at then return { line = idx - 1, character = at - 1 + (shift or 0) } end
    end
    error('not found: ' .. text)
  end
  local function request(method, params, buf)
    local answer, err = client.request_sync(method, params, 5000, buf)
    assert(answer and not answer.err, method .. ' failed: ' .. vim.inspect(err or (answer and answer.err)))
    return answer.result
  end
  wait_for(suri, function(list) return #list == 0 end, 'a clean script')

  -- The mistake: "<<+entry" becomes "<<+entyr".
  local append = find(sbuf, '<<+entry')
  vim.api.nvim_buf_set_lines(sbuf, append.line, append.line + 1, false, { '<<+entyr' })
  local list = wait_for(suri, function(l) return #l == 1 and l[1].code == 'unknown-block' end,
    'the unknown-block warning')
  assert(list[1].range.start.line == append.line, 'the warning is on the wrong line')

  -- Definition: from {headline} in the template to its binding.
  local target = request('textDocument/definition',
    { textDocument = { uri = turi }, position = find(tbuf, '{headline}', 2) }, tbuf)
  assert(target[1].uri == suri and target[1].range.start.line == find(sbuf, '<<<headline').line,
    'definition: ' .. vim.inspect(target))

  -- The quick fix.
  local actions = request('textDocument/codeAction', {
    textDocument = { uri = suri }, range = list[1].range, context = { diagnostics = list } }, sbuf)
  assert(actions[1] and actions[1].kind == 'quickfix', 'no quick fix')
  vim.lsp.util.apply_workspace_edit(actions[1].edit, client.offset_encoding)
  wait_for(suri, function(l) return #l == 0 end, 'the fixed script')
  assert(vim.api.nvim_buf_get_lines(sbuf, append.line, append.line + 1, false)[1] == '<<+entry',
    'the fix did not restore <<+entry')

  -- Rename the block from its "<<*entry" line.
  local edit = request('textDocument/rename',
    { textDocument = { uri = suri }, position = find(sbuf, '<<*entry', 4), newName = "post" }, sbuf)
  vim.lsp.util.apply_workspace_edit(edit, client.offset_encoding)
  wait_for(turi, function(l) return #l == 0 end, 'a clean template')
  local templ = table.concat(vim.api.nvim_buf_get_lines(tbuf, 0, -1, false), '\n')
  assert(templ:find('<!--BEGIN post-->', 1, true) and templ:find('<!--END post-->', 1, true)
    and not templ:find('entry-->', 1, true), 'the rename missed a marker')
  find(sbuf, '<<*post')
  wait_for(suri, function(l) return #l == 0 end, 'a clean script after the rename')

  client.stop()
  assert(vim.wait(5000, function() return exit_code ~= nil end, 10), 'the server did not exit')
  assert(exit_code == 0, 'the server exited with ' .. tostring(exit_code))
end

local ok, err = xpcall(session, debug.traceback)
if ok then
  io.stdout:write('neovim client: session passed\n')
  vim.cmd('qall!')
else
  io.stderr:write('neovim client: ' .. tostring(err) .. '\n')
  vim.cmd('cquit 1')
end
