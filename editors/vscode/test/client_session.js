// A scripted editor session with `zoqc --lsp` through the protocol's own Node client: opens the
// blog example, injects a mistake and waits for its diagnostic, follows a definition, applies
// the quick fix, renames a block and checks both files. Exits 0 when every step worked.
// Usage: node client_session.js ZOQC EXAMPLE_DIR
'use strict';
const { spawn, spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { pathToFileURL } = require('url');
const rpc = require('vscode-jsonrpc/node');
const { createProtocolConnection } = require('vscode-languageserver-protocol/node');
const { TextDocument } = require('vscode-languageserver-textdocument');

const [zoqc, example] = process.argv.slice(2);
const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'zoqc-node-'));
for (const name of ['blog.zoq', 'blog.zot'])
  fs.copyFileSync(path.join(example, name), path.join(folder, name));
const uri = (name) => pathToFileURL(path.join(folder, name)).href;
const scriptUri = uri('blog.zoq');
const templateUri = uri('blog.zot');

let finished = false;
function fail(message) {
  console.error('node client: ' + message);
  process.exit(1);
}
const timer = setTimeout(() => fail('timed out'), 30000);  // kept active: no early exit
process.on('beforeExit', () => { if (!finished) fail('ended with work unfinished'); });

const server = spawn(zoqc, ['--lsp'], { stdio: ['pipe', 'pipe', 'inherit'] });
const exited = new Promise((resolve) => server.on('exit', resolve));
const connection = createProtocolConnection(new rpc.StreamMessageReader(server.stdout),
                                            new rpc.StreamMessageWriter(server.stdin));
connection.onClose(() => { if (!finished) fail('the server closed the connection'); });

// The editor's copies of the two files, and what the server published last for each.
const documents = new Map();
const published = new Map();
const waiters = [];
connection.onNotification('textDocument/publishDiagnostics', (params) => {
  published.set(params.uri, params.diagnostics);
  for (const waiter of waiters.splice(0)) waiter();
});
// Resolves when AReady(diagnostics of AUri) holds.
function diagnostics(aUri, aReady) {
  return new Promise((resolve) => {
    const check = () => {
      const list = published.get(aUri);
      if (list && aReady(list)) resolve(list); else waiters.push(check);
    };
    check();
  });
}

function open(aUri) {
  const text = fs.readFileSync(new URL(aUri), 'utf8');
  const languageId = aUri.endsWith('.zoq') ? 'zoq' : 'zot';
  documents.set(aUri, TextDocument.create(aUri, languageId, 1, text));
  connection.sendNotification('textDocument/didOpen',
                              { textDocument: { uri: aUri, languageId, version: 1, text } });
}
// Applies text edits to the editor's copy and sends them as incremental changes, last first
// so that each range still holds.
function edit(aUri, aEdits) {
  const old = documents.get(aUri);
  const sorted = [...aEdits].sort((a, b) => old.offsetAt(b.range.start) - old.offsetAt(a.range.start));
  let text = old;
  for (const e of sorted)
    text = TextDocument.update(text, [{ range: e.range, text: e.newText }], text.version);
  const next = TextDocument.create(aUri, old.languageId, old.version + 1, text.getText());
  documents.set(aUri, next);
  connection.sendNotification('textDocument/didChange', {
    textDocument: { uri: aUri, version: next.version },
    contentChanges: sorted.map((e) => ({ range: e.range, text: e.newText })),
  });
}
function applyWorkspaceEdit(aEdit) {
  for (const change of aEdit.documentChanges || []) edit(change.textDocument.uri, change.edits);
  for (const [target, edits] of Object.entries(aEdit.changes || {})) edit(target, edits);
}
// The position of the first AText in the editor's copy of AUri (AShift characters on).
function find(aUri, aText, aShift = 0) {
  const document = documents.get(aUri);
  const at = document.getText().indexOf(aText);
  if (at < 0) fail(`'${aText}' not found in ${aUri}`);
  return document.positionAt(at + aShift);
}
const request = (method, params) => connection.sendRequest(method, params);

async function session() {
  connection.listen();
  const init = await request('initialize', {
    processId: process.pid, rootUri: pathToFileURL(folder).href,
    capabilities: { workspace: { workspaceEdit: { documentChanges: true } } },
  });
  if (!init.capabilities.renameProvider) fail('no rename');
  connection.sendNotification('initialized', {});
  open(scriptUri);
  open(templateUri);
  await diagnostics(templateUri, (list) => list.length === 0);

  // The mistake: "<<+entry" becomes "<<+entyr".
  const append = find(scriptUri, '<<+entry', 3);
  edit(scriptUri, [{ range: { start: append, end: { line: append.line, character: append.character + 5 } },
                     newText: 'entyr' }]);
  const [mistake] = await diagnostics(scriptUri, (list) => list.some((d) => d.code === 'unknown-block'));
  if (mistake.range.start.line !== append.line) fail('the diagnostic is on the wrong line');

  // Definition: from {headline} in the template to its binding in the script.
  const [target] = await request('textDocument/definition',
                                 { textDocument: { uri: templateUri }, position: find(templateUri, '{headline}', 2) });
  if (target.uri !== scriptUri || target.range.start.line !== find(scriptUri, '<<<headline').line)
    fail('definition of {headline}: ' + JSON.stringify(target));
  const hover = await request('textDocument/hover',
                              { textDocument: { uri: templateUri }, position: find(templateUri, '{headline}', 2) });
  if (!hover.contents.value.includes("htmlspecialchars($e['headline'])")) fail('hover: ' + hover.contents.value);
  // The escape setting, as the extension sends it: hover says how {url} is printed.
  const url = { textDocument: { uri: templateUri }, position: find(templateUri, '{url}', 2) };
  connection.sendNotification('workspace/didChangeConfiguration', { settings: { zoqc: { escape: true } } });
  const escaped = await request('textDocument/hover', url);
  if (!escaped.contents.value.includes('escaped as a URL attribute')) fail('escape hover: ' + escaped.contents.value);
  connection.sendNotification('workspace/didChangeConfiguration', { settings: { zoqc: { escape: false } } });
  if ((await request('textDocument/hover', url)).contents.value.includes('escaped as')) fail('escape stayed on');

  // The quick fix puts "entry" back.
  const actions = await request('textDocument/codeAction', {
    textDocument: { uri: scriptUri }, range: mistake.range, context: { diagnostics: [mistake] },
  });
  const fix = actions.find((a) => a.kind === 'quickfix');
  if (!fix) fail('no quick fix');
  applyWorkspaceEdit(fix.edit);
  await diagnostics(scriptUri, (list) => list.length === 0);
  if (!documents.get(scriptUri).getText().includes('\n<<+entry\n')) fail('the fix did not restore <<+entry');

  // Rename the block "entry" to "post" from its "<<*entry" line: both files change.
  const rename = await request('textDocument/rename', {
    textDocument: { uri: scriptUri }, position: find(scriptUri, '<<*entry', 4), newName: 'post',
  });
  applyWorkspaceEdit(rename);
  await diagnostics(templateUri, (list) => list.length === 0);
  await diagnostics(scriptUri, (list) => list.length === 0);
  const templ = documents.get(templateUri).getText();
  if (!templ.includes('<!--BEGIN post-->') || !templ.includes('<!--END post-->') || templ.includes('entry-->'))
    fail('the rename missed a marker');
  if (!documents.get(scriptUri).getText().includes('<<*post\n')) fail('the rename missed <<*entry');
  const refused = await request('textDocument/rename', {
    textDocument: { uri: scriptUri }, position: find(scriptUri, '<<*post', 4), newName: 'no-name',
  }).then(() => null, (error) => error);
  if (!refused || !refused.message.includes('not a valid name')) fail('an invalid name was not refused');
  // A name already bound in the block is refused too: the page would print the other's value.
  const taken = await request('textDocument/rename', {
    textDocument: { uri: scriptUri }, position: find(scriptUri, '<<<headline', 4), newName: 'summary',
  }).then(() => null, (error) => error);
  if (!taken || !taken.message.includes('already bound')) fail('a rename onto a bound name was accepted');

  // PHP's parser as the user types, once the lint setting is on: a parenthesis left open in a
  // binding is PHP's syntax error, on the binding's line of the script.
  if (spawnSync('php', ['-v']).status !== 0) {
    console.log('node client: no php on PATH, the lint step is skipped');
  } else {
    connection.sendNotification('workspace/didChangeConfiguration',
                                { settings: { zoqc: { warnings: [], lint: true } } });
    const close = find(scriptUri, "($blog['title'])", 15);
    edit(scriptUri, [{ range: { start: close, end: { line: close.line, character: close.character + 1 } },
                       newText: '' }]);
    const isParse = (d) => /syntax error/.test(d.message);
    const parse = (await diagnostics(scriptUri, (list) => list.some(isParse))).find(isParse);
    if (parse.range.start.line !== close.line) fail('the parse error is not on its binding: ' + JSON.stringify(parse));
    edit(scriptUri, [{ range: { start: close, end: close }, newText: ')' }]);
    await diagnostics(scriptUri, (list) => list.length === 0);
  }

  await request('shutdown', null);
  finished = true;
  connection.sendNotification('exit');
  const code = await exited;
  clearTimeout(timer);
  fs.rmSync(folder, { recursive: true, force: true });
  if (code !== 0) fail('the server exited with ' + code);
  console.log('node client: session passed');
  process.exit(0);
}

session().catch((error) => fail(error && error.stack ? error.stack : String(error)));
