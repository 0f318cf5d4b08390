// The grammars on the example pages, with VS Code's own HTML and PHP grammars (from the
// tm-grammars package): every statement line of each script and every marker and placeholder
// of each template must carry our scopes, and the PHP between the statements must still be PHP.
// Usage: node example_colours.js EXAMPLES_DIR. Exits 1 with one line a fault.
'use strict';
const fs = require('fs');
const path = require('path');
const textmate = require('vscode-textmate');
const oniguruma = require('vscode-oniguruma');

const timer = setTimeout(() => { console.error('example_colours: timed out'); process.exit(1); },
                         60000);
const here = path.join(__dirname, '..');
const files = new Map([['source.zoq', path.join(here, 'syntaxes/zoq.tmLanguage.json')],
                       ['text.html.zot', path.join(here, 'syntaxes/zot.tmLanguage.json')]]);

const wasm = fs.readFileSync(require.resolve('vscode-oniguruma/release/onig.wasm')).buffer;
const registry = new textmate.Registry({
  onigLib: oniguruma.loadWASM(wasm).then(() => ({
    createOnigScanner: (sources) => new oniguruma.OnigScanner(sources),
    createOnigString: (text) => new oniguruma.OnigString(text),
  })),
  loadGrammar: async (scope) => {
    const file = files.get(scope);
    return file ? textmate.parseRawGrammar(fs.readFileSync(file, 'utf8'), file) : null;
  },
});

// The scopes of each character of each line of AText, as one array of scope lists a line.
function colour(grammar, aText) {
  let state = textmate.INITIAL;
  return aText.split(/\r?\n/).map((line) => {
    const result = grammar.tokenizeLine(line, state);
    state = result.ruleStack;
    const scopes = [];
    for (const token of result.tokens)
      for (let i = token.startIndex; i < Math.min(token.endIndex, line.length); i++)
        scopes[i] = token.scopes;
    return { line, scopes };
  });
}

const faults = [];
// Checks that the characters of AMatch's group AGroup carry AScope on line ANumber of AFile.
function expect(aFile, aNumber, aLine, aScopes, aFrom, aLength, aScope) {
  for (let i = aFrom; i < aFrom + aLength; i++) {
    const has = aScopes[i] || [];
    if (!has.includes(aScope)) {
      faults.push(`${aFile}:${aNumber}:${i + 1}: ${JSON.stringify(aLine)} lacks ${aScope}` +
                  ` (has ${has.slice(1).join(' ') || 'nothing'})`);
      return;
    }
  }
}

// Statement lines: "<<name<<", "<<<name<<", "<<*name", "<<+name", each part with its scope.
function checkScript(grammar, aFile) {
  let php = 0;
  colour(grammar, fs.readFileSync(aFile, 'utf8')).forEach(({ line, scopes }, index) => {
    const at = (from, length, scope) => expect(aFile, index + 1, line, scopes, from, length, scope);
    let m;
    if ((m = /^(<<[*+])([A-Za-z0-9]*)$/.exec(line))) {
      at(0, 3, 'keyword.control.statement.zoq');
      at(3, m[2].length, 'entity.name.type.block.zoq');
    } else if ((m = /^(<<<?)([A-Za-z0-9]*)<<(.*)$/.exec(line))) {
      at(0, m[1].length, 'keyword.control.statement.zoq');
      at(m[1].length, m[2].length,
         m[1] === '<<<' ? 'variable.other.block.zoq' : 'variable.other.template.zoq');
      at(m[1].length + m[2].length, 2, 'keyword.operator.separator.zoq');
      at(m[1].length + m[2].length + 2, m[3].length, 'meta.embedded.expression.zoq');
    } else if (line.startsWith('<<')) {
      faults.push(`${aFile}:${index + 1}: a statement line this test does not know: ${line}`);
    } else if (/^\s*foreach\b/.test(line)) {
      at(line.indexOf('foreach'), 7, 'keyword.control.foreach.php');
      php++;
    }
  });
  if (php === 0) faults.push(`${aFile}: no foreach coloured as PHP`);
}

// Markers and placeholders, wherever they stand in the markup.
function checkTemplate(grammar, aFile) {
  colour(grammar, fs.readFileSync(aFile, 'utf8')).forEach(({ line, scopes }, index) => {
    const at = (from, length, scope) => expect(aFile, index + 1, line, scopes, from, length, scope);
    for (const m of line.matchAll(/<!--(BEGIN|END) ([A-Za-z0-9]+)-->/g)) {
      at(m.index + 4, m[1].length, 'keyword.control.marker.zot');
      at(m.index + 5 + m[1].length, m[2].length, 'entity.name.type.block.zot');
    }
    for (const m of line.matchAll(/\{([A-Za-z0-9]+)\}/g))
      at(m.index + 1, m[1].length, 'variable.other.placeholder.zot');
  });
}

(async () => {
  const examples = process.argv[2];
  for (const g of (await import('tm-grammars')).grammars)  // an ES module
    files.set(g.scopeName, require.resolve(`tm-grammars/grammars/${g.name}.json`));
  const script = await registry.loadGrammar('source.zoq');
  const template = await registry.loadGrammar('text.html.zot');
  let pages = 0;
  for (const name of fs.readdirSync(examples).sort()) {
    const base = path.join(examples, name, name);
    if (!fs.existsSync(base + '.zoq')) continue;
    checkScript(script, base + '.zoq');
    checkTemplate(template, base + '.zot');
    pages++;
  }
  clearTimeout(timer);
  if (pages < 3) faults.push(`only ${pages} example pages found in ${examples}`);
  for (const fault of faults) console.error('example_colours: ' + fault);
  if (faults.length) process.exit(1);
  console.log(`example_colours: ${pages} example pages coloured`);
})().catch((error) => { console.error('example_colours: ' + error.stack); process.exit(1); });
