// The VS Code versions the extension claims (engines.vscode) must all be versions the bundled
// language client runs on: a wider range installs on editors where activation fails.
// Usage: node engine_range.js. Exits 1 naming both ranges when ours is wider.
'use strict';
const semver = require('semver');
const ours = require('../package.json').engines.vscode;
const client = require('vscode-languageclient/package.json');
const theirs = client.engines.vscode;
if (!semver.subset(ours, theirs)) {
  console.error(`engine_range: engines.vscode is ${ours}, but vscode-languageclient ` +
                `${client.version} needs ${theirs}`);
  process.exit(1);
}
console.log(`engine_range: ${ours} within vscode-languageclient ${client.version}'s ${theirs}`);
