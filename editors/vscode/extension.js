// The ZOQ extension: starts `zoqc --lsp` for .zoq and .zot files, passes the settings
// (warnings, lint, escape) on, and shows the page that zoqc generates for the pair in the active editor.
'use strict';
const vscode = require('vscode');
const { LanguageClient, TransportKind } = require('vscode-languageclient/node');

let client;

function settings() {
  const config = vscode.workspace.getConfiguration('zoq');
  return {
    warnings: config.get('warnings', []),
    lint: config.get('lint', false),
    escape: config.get('escape', false),
  };
}

async function activate(context) {
  const command = vscode.workspace.getConfiguration('zoq').get('path', 'zoqc');
  client = new LanguageClient('zoq', 'ZOQ (zoqc)',
    { command, args: ['--lsp'], transport: TransportKind.stdio },
    {
      documentSelector: [{ scheme: 'file', language: 'zoq' }, { scheme: 'file', language: 'zot' }],
      initializationOptions: settings(),
      synchronize: { fileEvents: vscode.workspace.createFileSystemWatcher('**/{*.zoq,*.zot,zoqc.toml}') },
    });
  context.subscriptions.push(vscode.workspace.onDidChangeConfiguration((event) => {
    if (event.affectsConfiguration('zoq'))
      client.sendNotification('workspace/didChangeConfiguration', { settings: { zoqc: settings() } });
  }));
  context.subscriptions.push(vscode.commands.registerCommand('zoq.showPage', async () => {
    const editor = vscode.window.activeTextEditor;
    if (!editor) return;
    const answer = await client.sendRequest('workspace/executeCommand',
      { command: 'zoqc.page', arguments: [editor.document.uri.toString()] });
    const page = await vscode.workspace.openTextDocument({ language: 'php', content: answer.text });
    await vscode.window.showTextDocument(page, vscode.ViewColumn.Beside);
  }));
  await client.start();
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
