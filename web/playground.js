// The playground: a script and a template edited side by side, the page translated as you type,
// the diagnostics under the lines they point at with their fix-its as buttons, the examples, a
// share link that carries both inputs in the URL fragment, and the page's download.
(function () {
  "use strict";

  const $ = (id) => document.getElementById(id);
  const LINE_ENDS = { "\n": "LF", "\r\n": "CR LF" };

  // An element with a class and children (strings become text).
  function el(tag, className, ...children) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    for (const child of children) if (child != null) node.append(child);
    return node;
  }

  // Editors keep lines; each input's line end is kept beside its editor, as a switch, since a
  // browser's text fields turn CR LF into LF.
  function makeEditor(id) {
    const editor = CodeMirror($(id), { lineNumbers: true, lineWrapping: true, indentUnit: 4 });
    return { id, editor, eol: "\n" };
  }
  const inputs = { script: makeEditor("script"), template: makeEditor("template") };
  // The page shows its bytes: it is split at LF only, and a CR before it shows as a mark.
  const output = CodeMirror($("page"), { lineNumbers: true, readOnly: true, lineSeparator: "\n" });

  const playground = {
    zoqc: null,
    inputs,
    output,
    translations: 0,
    firstTranslationAt: null, // ms since the page was opened
    lastTranslationMs: null,
    last: null, // the last answer
  };
  window.playground = playground;

  let pageUrl = null;
  let shown = []; // the widgets and marks of the diagnostics shown
  let loading = false; // while inputs are being set, changes do not translate

  const pageName = () => $("name").value.trim() || "page";

  function setEol(input, eol) {
    input.eol = eol;
    $(input.id + "-eol").textContent = LINE_ENDS[eol];
  }

  // The input's bytes as zoqc reads them: its lines joined by its line end.
  const textOf = (input) => input.editor.getValue(input.eol);

  function load(name, script, template, switches = "", eols = null) {
    loading = true;
    $("name").value = name;
    $("switches").value = switches;
    $("escape").checked = switches.split(/\s+/).includes("--escape");
    for (const [input, text, eol] of [
      [inputs.script, script, eols && eols[0]],
      [inputs.template, template, eols && eols[1]],
    ]) {
      setEol(input, eol || (text.includes("\r\n") ? "\r\n" : "\n"));
      input.editor.setValue(text);
      input.editor.clearHistory();
    }
    loading = false;
    translate();
  }

  // 1-based byte column ACol of AText (a line) as a 0-based index of its UTF-16 units.
  function chOf(AText, ACol) {
    let bytes = 0;
    let ch = 0;
    while (ch < AText.length && bytes < ACol - 1) {
      const code = AText.codePointAt(ch);
      bytes += code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
      ch += code >= 0x10000 ? 2 : 1;
    }
    return ch;
  }

  // The editor of a diagnostic's file, or null (the page, a whole file).
  function inputOf(place) {
    const name = pageName();
    const input =
      place.file === name + ".zoq" ? inputs.script : place.file === name + ".zot" ? inputs.template : null;
    return input && place.line >= 1 && place.line <= input.editor.lineCount() ? input : null;
  }

  function rangeOf(input, place) {
    const line = place.line - 1;
    const text = input.editor.getLine(line);
    return [
      { line, ch: chOf(text, place.column) },
      { line, ch: chOf(text, Math.max(place.end_column, place.column)) },
    ];
  }

  // "insert '('", "replace 'rows' with 'row'", "remove ' '"
  function describeFix(input, fix) {
    const [from, to] = rangeOf(input, fix);
    const old = input.editor.getRange(from, to);
    const quote = (s) => el("code", null, s);
    if (!old) return ["insert ", quote(fix.text)];
    if (!fix.text) return ["remove ", quote(old)];
    return ["replace ", quote(old), " with ", quote(fix.text)];
  }

  // Applies a diagnostic's fix-its together, the last first, so that the columns stay right.
  function applyFixes(fixes) {
    const edits = fixes
      .map((fix) => ({ fix, input: inputOf(fix) }))
      .filter((e) => e.input)
      .map((e) => ({ ...e, range: rangeOf(e.input, e.fix) }))
      .sort((a, b) => b.range[0].line - a.range[0].line || b.range[0].ch - a.range[0].ch);
    for (const { input, fix, range } of edits)
      input.editor.replaceRange(fix.text, range[0], range[1], "+fixit");
    if (edits.length) edits[edits.length - 1].input.editor.focus();
  }

  function clearDiagnostics() {
    for (const item of shown) item.clear();
    shown = [];
  }

  // One diagnostic: a box under its line, its span underlined, its notes under their lines.
  function showDiagnostic(d, unplaced) {
    const input = inputOf(d);
    const box = el(
      "div",
      "diag " + d.severity,
      el("span", "severity", d.severity + ": "),
      d.message,
      d.warning ? el("span", "name", " [-W" + d.warning + "]") : null,
    );
    if (!input) {
      unplaced.push(d);
      return;
    }
    const notes = el("div", "notes");
    for (const note of d.notes) {
      const at = inputOf(note);
      if (at && (at !== input || note.line !== d.line)) {
        const noteBox = el("div", "diag note", el("span", "severity", "note: "), note.message);
        shown.push(at.editor.addLineWidget(note.line - 1, noteBox, { noHScroll: true }));
      }
      const where = at && (at !== input || note.line !== d.line) ? ` (line ${note.line})` : "";
      notes.append(el("div", null, "note: " + note.message + where));
    }
    if (d.notes.length) box.append(notes);
    const fixes = d.fixits.filter((fix) => inputOf(fix));
    if (fixes.length) {
      const label = ["Fix: "];
      fixes.forEach((fix, idx) => label.push(...(idx ? [", "] : []), ...describeFix(inputOf(fix), fix)));
      const button = el("button", "fix", ...label);
      button.type = "button";
      button.addEventListener("click", () => applyFixes(fixes));
      box.append(el("div", null, button));
    }
    shown.push(input.editor.addLineWidget(d.line - 1, box, { noHScroll: true }));
    // A mistake just typed: its message comes into view under the cursor.
    const editor = input.editor;
    if (editor.hasFocus() && editor.getCursor().line === d.line - 1) {
      requestAnimationFrame(() => {  // once the editor has measured the box
        const top = editor.heightAtLine(d.line - 1, "local");
        editor.scrollIntoView({ left: 0, right: 0, top, bottom: top + editor.getLineHandle(d.line - 1).height });
      });
    }
    const [from, to] = rangeOf(input, d);
    if (to.ch > from.ch)
      shown.push(input.editor.markText(from, to, { className: "squiggle-" + d.severity }));
  }

  function showPage(answer) {
    const status = $("status");
    const outLine = answer.out.split("\n").find((line) => line) || "";
    const warnings = answer.diagnostics.filter((d) => d.warning).length;
    const unplaced = [];
    clearDiagnostics();
    for (const d of answer.diagnostics) showDiagnostic(d, unplaced);
    const parts = [outLine || (answer.exit === 1 ? "warnings treated as errors: no page" : "")];
    if (warnings) parts.push(warnings + (warnings === 1 ? " warning" : " warnings"));
    for (const d of unplaced) parts.push(d.message);
    parts.push("exit " + answer.exit, playground.lastTranslationMs.toFixed(2) + " ms");
    status.textContent = parts.filter((p) => p).join(" · ");
    status.className = answer.exit === 0 ? "ok" : "error";

    const download = $("download");
    const name = pageName() + ".php";
    download.textContent = "Download " + name;
    download.download = name;
    $("page").classList.toggle("stale", answer.exit !== 0);
    if (answer.exit !== 0) {
      download.classList.add("disabled");
      download.removeAttribute("href");
      return;
    }
    if (pageUrl) URL.revokeObjectURL(pageUrl);
    pageUrl = URL.createObjectURL(new Blob([answer.page], { type: "application/x-php" }));
    download.href = pageUrl;
    download.classList.remove("disabled");
    const text = new TextDecoder().decode(answer.page);
    if (output.getValue() !== text) output.setValue(text);
  }

  function translate() {
    if (!playground.zoqc || loading) return;
    const name = pageName();
    for (const [id, ext] of [["script-file", ".zoq"], ["template-file", ".zot"], ["page-file", ".php"]])
      $(id).textContent = name + ext;
    const started = performance.now();
    const answer = playground.zoqc.translate(
      name,
      textOf(inputs.script),
      textOf(inputs.template),
      $("switches").value.trim(),
    );
    const done = performance.now();
    playground.lastTranslationMs = done - started;
    if (playground.firstTranslationAt === null) playground.firstTranslationAt = done;
    playground.translations++;
    playground.last = answer;
    showPage(answer);
  }

  // The share link: both inputs, their line ends, the page's name and the switches.
  function shareLink() {
    const params = new URLSearchParams({
      name: pageName(),
      zoq: textOf(inputs.script),
      zot: textOf(inputs.template),
      eol: [inputs.script, inputs.template].map((i) => (i.eol === "\r\n" ? "crlf" : "lf")).join(","),
    });
    const switches = $("switches").value.trim();
    if (switches) params.set("w", switches);
    return location.href.replace(/#.*$/, "") + "#" + params.toString();
  }

  // Loads the inputs a share link carries; yields false when the fragment holds none.
  function loadFragment() {
    const params = new URLSearchParams(location.hash.slice(1));
    if (!params.has("zoq") && !params.has("zot")) return false;
    const eols = (params.get("eol") || "").split(",").map((e) => (e === "crlf" ? "\r\n" : e === "lf" ? "\n" : null));
    $("example").value = "";
    load(params.get("name") || "page", params.get("zoq") || "", params.get("zot") || "", params.get("w") || "", eols);
    return true;
  }

  function loadExample(name) {
    const example = ZOQC_EXAMPLES[name];
    if (example) load(name, example.script, example.template, $("switches").value.trim());
  }

  for (const name of Object.keys(ZOQC_EXAMPLES)) $("example").append(new Option(name, name));
  $("example").addEventListener("change", (e) => loadExample(e.target.value));
  for (const input of Object.values(inputs)) {
    input.editor.on("changes", translate);
    $(input.id + "-eol").addEventListener("click", () => {
      setEol(input, input.eol === "\n" ? "\r\n" : "\n");
      translate();
    });
  }
  $("name").addEventListener("input", translate);
  // The --escape box writes and follows the word "--escape" in the switches.
  const escapeBox = () => {
    $("escape").checked = $("switches").value.split(/\s+/).includes("--escape");
  };
  $("switches").addEventListener("input", () => { escapeBox(); translate(); });
  $("escape").addEventListener("change", () => {
    const words = $("switches").value.split(/\s+/).filter((w) => w && w !== "--escape");
    if ($("escape").checked) words.push("--escape");
    $("switches").value = words.join(" ");
    translate();
  });
  $("share").addEventListener("click", async () => {
    const link = shareLink();
    history.replaceState(null, "", link);
    $("share-box").hidden = false;
    $("share-link").value = link;
    $("share-link").select();
    try {
      await navigator.clipboard.writeText(link);
    } catch (e) {
      // no clipboard here (an insecure origin, or no permission): the link stays selected
    }
  });
  window.addEventListener("hashchange", loadFragment);

  if (!loadFragment()) {
    $("example").value = "hello";
    loadExample("hello");
  }
  Zoqc.load(createZoqcModule)
    .then((zoqc) => {
      playground.zoqc = zoqc;
      translate();
    })
    .catch((error) => {
      $("status").textContent = "zoqc could not be loaded: " + error;
      $("status").className = "error";
    });
})();
