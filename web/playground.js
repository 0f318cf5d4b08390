// The playground: a script and a template edited side by side, the page translated as you type,
// the diagnostics under the lines they point at with their fix-its as buttons, the examples, a
// share link that carries both inputs in the URL fragment (compressed, and kept up to date once
// shared), the page's download, and a service worker that keeps it all for use offline.
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
  let own = null; // the user's own page, kept while an example is shown
  let sharing = false; // the URL's fragment follows the inputs (after "Share link", or opened from one)
  let pending = null; // the timer of a translation that waits for typing to pause
  let lastCost = 0; // ms the last translation took, with showing its answer
  let lastSize = 0; // the characters of both inputs at the last translation

  // Inputs this large, or a translation this slow, wait for a pause in the typing: the page
  // is translated once the keys stop for PAUSE_MS, not once a keystroke.
  const LARGE_INPUT = 256 * 1024;
  const SLOW_MS = 16;
  const PAUSE_MS = 200;
  // Chromium's longest URL; a longer share link is not offered.
  const MAX_LINK = 2 * 1024 * 1024;

  const pageName = () => $("name").value.trim() || "page";

  function setEol(input, eol) {
    input.eol = eol;
    $(input.id + "-eol").textContent = LINE_ENDS[eol];
  }

  // The input's bytes as zoqc reads them: its lines joined by its line end.
  const textOf = (input) => input.editor.getValue(input.eol);

  function load(name, script, template, switches = "", eols = null) {
    clearTimeout(pending);
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
    status.className = answer.exit !== 0 ? "error" : warnings ? "warning" : "ok";

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
    setOutput(new TextDecoder().decode(answer.page));
  }

  // Shows AText as the page, replacing only what changed: a large page is not laid out anew
  // for every keystroke.
  function setOutput(AText) {
    const old = output.getValue();
    if (old === AText) return;
    const most = Math.min(old.length, AText.length);
    let head = 0;
    while (head < most && old.charCodeAt(head) === AText.charCodeAt(head)) head++;
    let tail = 0;
    while (tail < most - head &&
           old.charCodeAt(old.length - 1 - tail) === AText.charCodeAt(AText.length - 1 - tail))
      tail++;
    output.replaceRange(AText.slice(head, AText.length - tail), output.posFromIndex(head),
                        output.posFromIndex(old.length - tail));
  }

  function translate() {
    clearTimeout(pending);
    pending = null;
    if (!playground.zoqc || loading) return;
    const name = pageName();
    for (const [id, ext] of [["script-file", ".zoq"], ["template-file", ".zot"], ["page-file", ".php"]])
      $(id).textContent = name + ext;
    const started = performance.now();
    const script = textOf(inputs.script);
    const template = textOf(inputs.template);
    lastSize = script.length + template.length;
    const answer = playground.zoqc.translate(name, script, template, $("switches").value.trim());
    const done = performance.now();
    playground.lastTranslationMs = done - started;
    if (playground.firstTranslationAt === null) playground.firstTranslationAt = done;
    playground.translations++;
    playground.last = answer;
    showPage(answer);
    lastCost = performance.now() - started;
    if (sharing) updateShareLink();
  }

  // After an edit: translates now, or once the typing pauses when the inputs are large or the
  // last translation was slow.
  function edited() {
    if (loading) return;
    if (lastSize < LARGE_INPUT && lastCost < SLOW_MS) return translate();
    clearTimeout(pending);
    pending = setTimeout(translate, PAUSE_MS);
  }

  // The share link's fragment: the page's name, both inputs, their line ends and the switches,
  // as JSON, deflated and in base64url after "z="; as plain parameters where the browser cannot
  // compress (the form older links have).
  async function shareFragment() {
    const state = {
      name: pageName(),
      zoq: textOf(inputs.script),
      zot: textOf(inputs.template),
      eol: [inputs.script, inputs.template].map((i) => (i.eol === "\r\n" ? "crlf" : "lf")).join(","),
      w: $("switches").value.trim(),
    };
    if (typeof CompressionStream === "undefined") {
      if (!state.w) delete state.w;
      return new URLSearchParams(state).toString();
    }
    const stream = new Blob([JSON.stringify(state)]).stream().pipeThrough(new CompressionStream("deflate-raw"));
    const bytes = new Uint8Array(await new Response(stream).arrayBuffer());
    let binary = "";
    for (let at = 0; at < bytes.length; at += 0x8000)
      binary += String.fromCharCode.apply(null, bytes.subarray(at, at + 0x8000));
    return "z=" + btoa(binary).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
  }

  // The state a "z=" fragment carries (see shareFragment).
  async function unpackFragment(AText) {
    const binary = atob(AText.replace(/-/g, "+").replace(/_/g, "/"));
    const bytes = Uint8Array.from(binary, (c) => c.charCodeAt(0));
    const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate-raw"));
    return JSON.parse(await new Response(stream).text());
  }

  // Puts the inputs into the URL (a reload keeps them) and into the share box. Yields the link,
  // or null when the page is too large for one. Only the latest of overlapping calls writes.
  let shareCalls = 0;
  async function updateShareLink() {
    const call = ++shareCalls;
    const fragment = await shareFragment();
    if (call !== shareCalls) return null;
    const base = location.href.replace(/#.*$/, "");
    const link = base + "#" + fragment;
    const fits = link.length <= MAX_LINK;
    history.replaceState(null, "", fits ? link : base);
    $("share-link").value = fits
      ? link
      : `The page is too large for a link: ${(link.length / 1048576).toFixed(1)} MB even ` +
        "compressed, and browsers take links of up to 2 MB. Share its two files instead.";
    playground.shareLinks++;
    return fits ? link : null;
  }

  // Loads the inputs a share link carries; yields false when the fragment holds none.
  function loadFragment() {
    const hash = location.hash.slice(1);
    const params = new URLSearchParams(hash);
    const show = (state) => {
      const eols = (state.eol || "").split(",").map((e) => (e === "crlf" ? "\r\n" : e === "lf" ? "\n" : null));
      $("example").value = showing = "";
      sharing = true;  // the link follows later edits
      load(state.name || "page", state.zoq || "", state.zot || "", state.w || "", eols);
    };
    if (params.has("z")) {
      unpackFragment(params.get("z")).then(show, () => {
        $("status").textContent = "this link's page cannot be read: it may have been cut short";
        $("status").className = "error";
      });
      return true;
    }
    if (!params.has("zoq") && !params.has("zot")) return false;
    show(Object.fromEntries(params));
    return true;
  }

  // The examples menu: an example, or "(your own page)", the page the user last had, kept while
  // an example is shown (an empty page when there was none).
  let showing = "";  // what the editors hold: an example's name, or "" for the user's own page
  function choose(AName) {
    if (showing === "" && AName !== "" && (textOf(inputs.script) || textOf(inputs.template)))
      own = { name: pageName(), script: textOf(inputs.script), template: textOf(inputs.template),
              eols: [inputs.script.eol, inputs.template.eol] };
    showing = AName;
    $("example").value = AName;
    const switches = $("switches").value.trim();
    const example = ZOQC_EXAMPLES[AName];
    if (example) return load(AName, example.script, example.template, switches);
    const page = own || { name: "page", script: "<?php\n", template: "", eols: ["\n", "\n"] };
    load(page.name, page.script, page.template, switches, page.eols);
  }

  // An edit by the user: the page is theirs now, no longer the example.
  function ownEdit() {
    if (loading) return;
    showing = $("example").value = "";
    edited();
  }

  // A paste that replaces the whole text brings its own line ends (an editor keeps lines only).
  function pasted(input, event) {
    const text = event.clipboardData && event.clipboardData.getData("text/plain");
    if (!text || !/[\r\n]/.test(text)) return;
    const editor = input.editor;
    const all = editor.listSelections();
    const last = editor.lastLine();
    const whole = editor.getValue() === "" ||
      (all.length === 1 && all[0].from().line === 0 && all[0].from().ch === 0 &&
       all[0].to().line === last && all[0].to().ch === editor.getLine(last).length);
    if (whole) setEol(input, /\r\n/.test(text) && !/(^|[^\r])\n/.test(text) ? "\r\n" : "\n");
  }

  playground.shareLinks = 0;
  for (const name of Object.keys(ZOQC_EXAMPLES)) $("example").append(new Option(name, name));
  $("example").addEventListener("change", (e) => choose(e.target.value));
  for (const input of Object.values(inputs)) {
    input.editor.on("changes", ownEdit);
    input.editor.on("paste", (editor, event) => pasted(input, event));
    $(input.id + "-eol").addEventListener("click", () => {
      setEol(input, input.eol === "\n" ? "\r\n" : "\n");
      ownEdit();
    });
  }
  $("name").addEventListener("input", ownEdit);
  // The --escape box writes and follows the word "--escape" in the switches.
  const escapeBox = () => {
    $("escape").checked = $("switches").value.split(/\s+/).includes("--escape");
  };
  $("switches").addEventListener("input", () => { escapeBox(); edited(); });
  $("escape").addEventListener("change", () => {
    const words = $("switches").value.split(/\s+/).filter((w) => w && w !== "--escape");
    if ($("escape").checked) words.push("--escape");
    $("switches").value = words.join(" ");
    edited();
  });
  $("share").addEventListener("click", async () => {
    sharing = true;
    $("share-box").hidden = false;
    $("share-link").value = "";
    const link = await updateShareLink();
    $("share-link").select();
    if (!link) return;
    try {
      await navigator.clipboard.writeText(link);
    } catch (e) {
      // no clipboard here (an insecure origin, or no permission): the link stays selected
    }
  });
  window.addEventListener("hashchange", loadFragment);

  // Offline: the service worker keeps the page's files for the next visit without a network.
  // Without one (a file: URL, an old browser) the page works, online only.
  if ("serviceWorker" in navigator && location.protocol.startsWith("http"))
    navigator.serviceWorker.register("service-worker.js").catch(() => {});

  if (!loadFragment()) choose("hello");
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
