// The index page of a batch: every page in an iframe twice, with harmless values (each a marker
// "zqM<k>q") and with hostile ones. Once all have loaded, each page is read the same way (its
// elements, attributes, texts, comments, style rules and the values its scripts logged, its
// event handlers and script URLs run on the way) and the hostile reading must be the harmless
// one with each marker replaced by its value as the browser reads it there. The problems go
// onto <html> as base64 JSON for --dump-dom.
const zqHits = [];
window.zqx = (n) => zqHits.push(n);
window.addEventListener("load", () => setTimeout(() => {
  const decode = (b) => new TextDecoder().decode(Uint8Array.from(atob(b), (c) => c.charCodeAt(0)));
  const bytes = (s) => new TextDecoder().decode(new Uint8Array(Array.from(s.matchAll(/%([0-9a-f]{2})|[^]/gi),
    (m) => m[1] ? [parseInt(m[1], 16)] : [...new TextEncoder().encode(m[0])]).flat()));
  const urlNames = new Set(["href", "xlink:href", "src", "action", "formaction", "cite", "poster", "data",
    "background", "ping", "to", "from", "by", "values"]);
  const scheme = (u) => (/^([a-z][a-z0-9+.-]*):/i.exec(u.replace(/^[\0- ]+/, "").replace(/[\t\n\r]/g, "")) || [, ""])[1].toLowerCase();
  const unsafe = (u) => /^(javascript|vbscript)$/.test(scheme(u)) || (scheme(u) === "data" && !/^\s*data:image\//i.test(u));

  const html = "http://www.w3.org/1999/xhtml";
  const entities = (s) => { const t = document.createElement("textarea"); t.innerHTML = s; return t.value; };
  // What a page shows: [kind, text] items in document order, srcdoc documents included.
  function read(win) {
    const out = [];
    const walk = (doc) => {
      const w = doc.createTreeWalker(doc, NodeFilter.SHOW_ALL);
      for (let n = w.nextNode(); n; n = w.nextNode()) {
        if (n.nodeType === 1) {
          const attrs = Array.from(n.attributes).sort((a, b) => a.name < b.name ? -1 : 1);
          out.push(["element", n.namespaceURI.slice(-6) + " " + n.localName + "[" + attrs.map((a) => a.name) + "]"]);
          for (const a of attrs) {
            if (/^on/i.test(a.name)) {
              let r = "no handler";
              try { const f = n[a.name.toLowerCase()]; if (typeof f === "function") { f.call(n, new doc.defaultView.Event("zq")); r = "ran"; } }
              catch (e) { r = "threw"; }
              out.push(["handler", r, a.value]);
            } else if (a.name === "style") out.push(["css", n.style.cssText]);
            else if (urlNames.has(a.name)) {
              if (scheme(a.value) !== "javascript") out.push(["url", a.value]);
              else {  // the template's script: run as a click would run it, and its values logged
                let r = "ran";
                try { (0, doc.defaultView.eval)(bytes(new URL(a.value, doc.baseURI).href.replace(/^[^:]*:/, ""))); }
                catch (e) { r = "threw"; }
                out.push(["script URL", r, a.value]);
              }
            } else if (a.name !== "srcdoc") out.push(["attribute", a.value]);
          }
          // Its text, empty too (a value of NUL alone leaves no text node); unshown raw text
          // (shown only where scripts or frames are off) as the HTML it then is.
          const t = Array.from(n.childNodes).filter((c) => c.nodeType === 3 || c.nodeType === 4).map((c) => c.data).join("");
          const p = n.namespaceURI === html ? n.localName : "";
          if (/^(noscript|noembed|noframes|iframe)$/.test(p)) out.push(["text", entities(t)]);
          else if (!/^(script|style)$/.test(n.localName)) out.push(["text", t]);
          if (n.localName === "iframe" && n.hasAttribute("srcdoc") && n.contentDocument) walk(n.contentDocument);
        } else if (n.nodeType === 8) out.push(["comment", entities(n.data)]);  // unshown: as text
      }
      for (const sheet of doc.styleSheets) for (const rule of sheet.cssRules) out.push(["css", rule.cssText]);
    };
    walk(win.document);
    for (const v of win.zqLog || []) {
      const re = Object.prototype.toString.call(v) === "[object RegExp]";
      out.push([re ? "regex" : "js", re ? [v.source, v.flags] : String(v)]);
    }
    return out;
  }

  const cssString = (s) => Array.from(s, (c) => c === "\0" ? "\uFFFD" : c < " " || c === "\x7f" ? "\\" + c.charCodeAt(0).toString(16) + " "
    : c === '"' || c === "\\" ? "\\" + c : c).join("");
  const fold = (s) => s.replace(/[\0\uFFFD]/g, "");  // NUL and what invalid UTF-8 became
  const lines = (s) => s.replace(/\r\n?/g, "\n");
  const css = (s) => s.replace(/\s+/g, " ").replace(/ ;/g, ";").trim();
  const markers = /zqM(\d+)q/g;
  // The texts the hostile item may hold for the harmless item AText: each marker replaced by
  // each way the browser may show its value in AKind.
  function expected(AKind, AText, AValues) {
    const each = (f) => AText.replace(markers, (m, k) => f(AValues[k], m, AText.slice(0, AText.indexOf(m))));
    switch (AKind) {
      case "text": case "attribute": case "comment": return [each((v) => lines(v))];
      case "url": return [each((v) => lines(v)), each(() => "#zoqc-unsafe-url"), each((v) => lines(v).replace(/:/g, "%3A"))];
      case "css": {  // each bare value as it is, refused, or its declaration dropped (CSS rejects it there)
        const quoted = (t, m) => (t.slice(0, t.indexOf(m)).replace(/\\./g, "").match(/"/g) || []).length % 2 === 1;
        const bare = Array.from(AText.matchAll(markers), (m) => m[0]).filter((m) => !quoted(AText, m));
        const all = [];
        for (let n = 0; n < 4 ** bare.length; n++) {  // a font family's string may show as a name
          let t = AText;
          bare.forEach((m, j) => { const v = AValues[m.slice(3, -1)], how = Math.floor(n / 4 ** j) % 4;
            t = how === 3 ? t.replace(new RegExp("[^;{]*" + m + "[^;}]*;\\s?"), "") : t.replace(m, [v, "zoqc-unsafe", '"' + cssString(v) + '"'][how]); });
          all.push(t.replace(markers, (m, k) => cssString(AValues[k])));
        }
        return all.map(css);
      }
      default: return [each((v) => v)];
    }
  }

  const result = [];
  for (const page of ZQPAGES) {
    const values = page.values.map(decode);
    const frame = (id) => document.getElementById(id).contentWindow;
    const [harmless, hostile] = [read(frame(page.id + "h")), read(frame(page.id + "x"))];
    const problems = [];
    const last = (i) => { let k = -1; for (let j = 0; j <= i && j < harmless.length; j++) for (const m of JSON.stringify(harmless[j]).matchAll(markers)) k = Number(m[1]); return k; };
    for (let i = 0; i < Math.max(harmless.length, hostile.length); i++) {
      const [h, x] = [harmless[i] || ["(nothing)", ""], hostile[i] || ["(nothing)", ""]];
      const hm = Array.from(JSON.stringify(h.slice(1)).matchAll(markers), (m) => Number(m[1]));
      if (h[0] !== x[0] || ((!hm.length || h.length > 2) && JSON.stringify(h.slice(0, 2)) !== JSON.stringify(x.slice(0, 2)))) {
        problems.push([hm.length ? hm[0] : last(i), "the page changed: " + JSON.stringify(h).slice(0, 200) + " became " + JSON.stringify(x).slice(0, 200)]);
        break;
      }
      if (!hm.length || h.length > 2) continue;
      if (h[0] === "url" && unsafe(x[1]) && !unsafe(h[1])) problems.push([hm[0], "a script URL arrived: " + JSON.stringify(x[1])]);
      let ok;
      if (h[0] === "regex") {
        const want = h[1][0].replace(/^\^|\$$/g, "").replace(/\\(.)/g, "$1").replace(markers, (m, k) => values[k]);
        try { ok = x[1][1] === h[1][1] && new RegExp("^(?:" + x[1][0] + ")$", x[1][1]).test(want); } catch (e) { ok = false; }
      } else ok = expected(h[0], h[1], values).some((e) => fold(e) === fold(h[0] === "css" ? css(x[1]) : x[1]));
      if (!ok) problems.push([hm[0], "the value arrived changed in " + h[0] + ": " + JSON.stringify(x[1]).slice(0, 300) + ", harmless " + JSON.stringify(h[1]).slice(0, 200)]);
    }
    for (const e of frame(page.id + "h").zqErr || [])
      problems.push([(/zqM(\d+)q/.exec(e) || [, -1])[1] * 1, "a script failed with the harmless values: " + e]);
    result.push({ id: page.id, problems, errors: [frame(page.id + "h").zqErr, frame(page.id + "x").zqErr] });
  }
  for (const n of zqHits) {
    const r = result.find((p) => p.id === "p" + Math.floor(n / 1000));
    if (r) r.problems.unshift([n % 1000, "a script of the value ran"]);
  }
  document.documentElement.setAttribute("data-zq-report", btoa(unescape(encodeURIComponent(JSON.stringify(result)))));
}, 500));
