<?php
// Safe output in a real browser: one page holds a placeholder in every HTML context, repeated
// by a block once per value; php renders it with hostile values and with harmless ones, and
// headless Chromium loads both. The hostile page must hold exactly the elements, attributes
// and comments of the harmless one, run no script of the values', and every value must arrive
// exactly (a script URL as the harmless fragment that replaces it). The same page translated
// without --escape must fail the same checks, or the checks prove nothing.
//
//   php tests/escape_browser.php ZOQC [CHROMIUM]   (exit 77: no Chromium)
$zoqc = realpath($argv[1] ?? '') ?: exit("usage: escape_browser.php ZOQC [CHROMIUM]\n");
$chromium = $argv[2] ?? '/usr/bin/chromium';
putenv("CHROMIUM=$chromium");
if (!is_executable($chromium) || !shell_exec('command -v node')) {
    echo "chromium or node not found: skipped\n";
    exit(77);
}

$hostile = [
    '<script>alert(1)</script>', '"><img src=x onerror=alert(2)>', "'><svg onload=alert(3)>",
    '</textarea><script>alert(4)</script>', '</title><script>alert(5)</script>',
    '--><script>alert(6)</script>', '--!><script>alert(7)</script>', '</style><script>alert(8)</script>',
    '</script><script>alert(9)</script>', '<!--<script>', 'javascript:alert(10)',
    'JaVaScRiPt:alert(11)', " \t\x01javascript:alert(12)", "java\tscr\nipt:alert(13)",
    'java&#115;cript:alert(14)', '&#106;avascript:alert(15)', 'vbscript:msgbox(16)',
    'data:text/html,<script>alert(17)</script>', "'; alert(18); '", '"; alert(19); "',
    '\\\'; alert(20); //', '\\"; alert(21); //', '`; alert(22); `', '${alert(23)}',
    "a\u{2028}b\u{2029}c", "\xff\xfe invalid \xc3(", '}; * { color: red } a {',
    'red; background: url(javascript:alert(24))', 'expression(alert(25))', '" onmouseover="alert(26)',
    "x\ny\r\nz", '&amp; &lt; &quot;', '*/ alert(27) /*', '#39;); alert(28); //', '{alert(29)}',
    "x');alert(30);//", "\nleading line end", '" autofocus onfocus="alert(31)', 'alert(32)',
    '[/; alert(33); //', '%27);alert(34);//',
];
$harmless = array_map(fn ($i) => "value$i", array_keys($hostile));
$harmless[0] = 'red';  // a colour that the bare CSS context keeps

$script = <<<'ZOQ'
<?php
$values = array_map('base64_decode', explode(',', getenv('ZOQ_VALUES')));
<<first<<$values[0]
<<*row
<<<i<<$i
<<<v<<$v
<<<h<<htmlspecialchars($v, ENT_NOQUOTES | ENT_SUBSTITUTE)
foreach ($values as $i => $v) {
<<+row
}
ZOQ;
$template = <<<'ZOT'
<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>{first}</title>
<script>window.zoqRan = []; window.alert = window.confirm = window.prompt = function (x) { zoqRan.push(String(x)); }; window.zoqValues = []; window.zoqSvg = []; window.zoqMore = []; window.zoqJs = []; window.zoqJ = function (i, x) { zoqJs[i] = x; };</script>
</head><body>
<p id="first" title="{first}">{first}</p>
<!--BEGIN row--><div class="case" id="c{i}">
<p class="text">{v}</p><textarea class="rcdata">{v}</textarea>
<span class="dq" title="{v}"></span><span class="sq" title='{v}'></span>
<a class="url" href="{v}">u</a><a class="path" href="/p?q={v}">p</a>
<button class="ev" onclick="window.zoqGot = {v}">e</button>
<button class="evs" onclick="window.zoqGot = '{v}'">s</button><button class="evm" onmouseover="window.zoqGot = '{v}'">m</button>
<span class="css" style="color: {v}"></span><span class="cssstr" style='font-family: "{v}"'></span>
<!-- {v} -->
<script>zoqValues.push([{v}, '{v}', "{v}", `{v}`]); // {v}
/* {v} */</script>
<style>#c{i}::after { content: "{v}"; } /* {v} */ #c{i} { color: {v} }</style>
<svg><a class="svga" href="{v}"><text>a</text></a><text class="svgtext">{v}</text><text class="cdata"><![CDATA[{v}]]></text>
<textarea><a class="svgta" href="{v}"><text>t</text></a></textarea><script>zoqSvg[{i}] = [{v}, '{v}'];</script>
<style>#c{i} .svgtext { font-family: "{v}" }</style></svg>
<pre class="pre">{v}</pre><span class="e5" title="{h}"></span>
<button class="amp" onclick="window.zoqGot = '&{v}'">a</button><a class="jsurl" href="javascript:zoqJ({i}, '{v}')">j</a>
<iframe class="srcdoc" sandbox="allow-same-origin" srcdoc="<p id=&quot;in&quot; title='{v}'>{v}</p>"></iframe>
<script>function zoqQuote(s){return /'/.test(s)}zoqMore[{i}]=[{v}];
zoqMore[{i}].push(`${v}`, /'/.source + '{v}');
// old pages wrapped this in <!--<script>
// </script>
zoqMore[{i}].push({v});</script>
</div>
<!--END row--></body></html>
ZOT;

// The checker, appended to the rendered page: the DOM's shape, the values as they arrived, the
// scripts that ran, as a base64 JSON report on <html>.
$checker = <<<'JS'
<script>
// After the load, when the srcdoc frames are read.
window.addEventListener("load", function () {
  const expected = EXPECTED.map((b) => new TextDecoder().decode(Uint8Array.from(atob(b), (c) => c.charCodeAt(0))));
  const html = (s) => s.replace(/\r\n?/g, "\n");  // the input stream's line ends
  const attr = (s) => html(s).replace(/\0/g, "\uFFFD");
  const text = (s) => html(s).replace(/\0/g, "");
  const css = (s) => '"' + Array.from(s).map((c) => c === "\0" ? "\uFFFD" : c < " " || c === "\x7f" ? "\\" + c.charCodeAt(0).toString(16) + " " : c === '"' || c === "\\" ? "\\" + c : c).join("") + '"';
  const scheme = (s) => /^(javascript|vbscript|data):/i.test(s.replace(/^[\0- ]+/, "").replace(/[\t\n\r]/g, ""));
  const report = { shape: [], bad: [], ran: window.zoqRan, cases: 0 };
  const walker = document.createTreeWalker(document, NodeFilter.SHOW_ELEMENT | NodeFilter.SHOW_COMMENT);
  for (let n = walker.nextNode(); n; n = walker.nextNode())
    report.shape.push(n.nodeType === 8 ? "#comment" : n.tagName + "[" + Array.from(n.attributes, (a) => a.name).sort().join(",") + "]");
  const check = (i, what, got, want) => { if (got !== want) report.bad.push([i, what, got, want]); };
  document.querySelectorAll(".case").forEach((el) => {
    const i = Number(el.id.slice(1));
    const v = expected[i];
    report.cases++;
    const q = (c) => el.querySelector(c);
    check(i, "text", q(".text").textContent, text(v));
    check(i, "textarea", q(".rcdata").value, text(v));
    check(i, "pre", q(".pre").textContent, text(v));
    check(i, "htmlspecialchars without quotes", q(".e5").getAttribute("title"), attr(v));
    window.zoqGot = undefined; q(".amp").click(); check(i, "onclick after &", window.zoqGot, "&" + v);
    // A javascript: URL runs its code once its %XX are decoded (run here as the browser would
    // on a click, which would navigate away).
    const jsurl = q(".jsurl").getAttribute("href");
    try { Function(decodeURIComponent(jsurl.slice("javascript:".length)))(); } catch (e) { }
    check(i, "javascript: URL", window.zoqJs[i], v);
    const inner = q(".srcdoc").contentDocument;
    const p = inner && inner.getElementById("in");
    check(i, "srcdoc text", p ? p.textContent : null, text(v));
    check(i, "srcdoc attribute", p ? p.getAttribute("title") : null, attr(v));
    check(i, "srcdoc elements", inner ? inner.body.querySelectorAll("*").length : null, 1);  // no script runs in the sandbox: an injected element shows
    const more = window.zoqMore[i] || [];
    ["after a regular expression", "template string after $", "regular expression string", "double-escaped script"]
      .forEach((w, k) => check(i, w, more[k], [v, "$" + v, "'" + v, v][k]));
    check(i, "double-quoted", q(".dq").getAttribute("title"), attr(v));
    check(i, "single-quoted", q(".sq").getAttribute("title"), attr(v));
    const url = scheme(v) ? "#zoqc-unsafe-url" : attr(v).replace(/^[\0- ]+/, (m) => m.replace(/:/g, "%3A"));
    check(i, "url", q(".url").getAttribute("href"), url);
    check(i, "svg url", q(".svga").getAttribute("href"), url);
    check(i, "svg textarea url", q(".svgta").getAttribute("href"), url);
    check(i, "svg text", q(".svgtext").textContent, text(v));
    check(i, "cdata", q(".cdata").textContent, attr(v));
    const svgFamily = q("svg style").sheet.cssRules[0].style.getPropertyValue("font-family");
    check(i, "svg css string", svgFamily === v ? css(v) : svgFamily, css(v));
    ["svg script value", "svg script string"].forEach((w, k) => check(i, w, (window.zoqSvg[i] || [])[k], v));
    if (/^(javascript|vbscript|data):/.test(q(".url").protocol)) report.bad.push([i, "url scheme", q(".url").href, ""]);
    check(i, "url path", q(".path").getAttribute("href"), "/p?q=" + attr(v));
    window.zoqGot = undefined; q(".ev").click(); check(i, "onclick value", window.zoqGot, v);
    window.zoqGot = undefined; q(".evs").click(); check(i, "onclick string", window.zoqGot, v);
    window.zoqGot = undefined; q(".evm").dispatchEvent(new MouseEvent("mouseover")); check(i, "onmouseover string", window.zoqGot, v);
    const family = q(".cssstr").style.getPropertyValue("font-family");  // quoted unless a name
    check(i, "css string", family === v ? css(v) : family, css(v));
    check(i, "css content", getComputedStyle(el, "::after").content, css(v));
    if (/^[\w\s#%.,+-]*$/.test(v) && CSS.supports("color", v)) check(i, "css value", q(".css").style.getPropertyValue("color"), v);
    const js = window.zoqValues[i] || [];
    ["script value", "script single", "script double", "script template"].forEach((w, k) => check(i, w, js[k], v));
  });
  document.documentElement.setAttribute("data-zoq-report", btoa(unescape(encodeURIComponent(JSON.stringify(report)))));
});
</script>
JS;

$dir = sys_get_temp_dir() . '/zoqc-escape-' . getmypid();
@mkdir($dir);
register_shutdown_function(fn () => exec('rm -rf ' . escapeshellarg($dir)));
file_put_contents("$dir/page.zoq", $script);
file_put_contents("$dir/page.zot", $template);

// Translates the page of ADir with AOptions and renders it for AValues, with the checker, into
// ADir/AName.html, to be loaded by reports() below.
function page(string $zoqc, string $dir, string $AName, array $AOptions, array $AValues, string $checker): string {
    exec(implode(' ', array_map('escapeshellarg', [$zoqc, '-q', '-w', ...$AOptions, "$dir/page"])) . ' 2>&1', $out, $code);
    if ($code !== 0) exit("zoqc failed:\n" . implode("\n", $out) . "\n");
    $encoded = implode(',', array_map('base64_encode', $AValues));
    $html = shell_exec('ZOQ_VALUES=' . escapeshellarg($encoded) . ' php ' . escapeshellarg("$dir/page.php"));
    $html .= str_replace('EXPECTED', json_encode(array_map('base64_encode', $AValues)), $checker);
    file_put_contents("$dir/$AName.html", $html);
    return "$dir/$AName.html";
}

// The checkers' reports of the pages, each loaded in a tab of one Chromium.
function reports(array $APages): array {
    $lines = [];
    exec(implode(' ', array_map('escapeshellarg', ['node', __DIR__ . '/page_reports.js', ...$APages])) . ' 2>&1', $lines, $code);
    if ($code !== 0 || count($lines) !== count($APages)) exit("Chromium failed:\n" . implode("\n", $lines) . "\n");
    return array_map(fn ($line) => $line === '' ? ['missing' => true] : json_decode(base64_decode($line), true), $lines);
}

$failed = 0;
$fail = function (string $AWhat) use (&$failed) { echo "FAIL: $AWhat\n"; $failed++; };
$pages = [page($zoqc, $dir, 'safe', ['--escape'], $harmless, $checker), page($zoqc, $dir, 'evil', ['--escape'], $hostile, $checker),
          page($zoqc, $dir, 'raw', [], $hostile, $checker)];
// Script URLs in every URL-bearing attribute of every element that has one, in HTML, SVG and
// MathML: each value a script scheme as a browser reads it (case, blanks, controls, tabs and
// line ends inside, entities that stay text), or a URL to keep, on one page with harmless
// values that give every case's shape. '@name' below stands for the attribute with the value.
// Not here: <html manifest>, <head profile>, <body background> and <frame src>, which a second
// element in the body cannot carry, and MathML's altimg and definitionURL, which no browser
// loads.
$urlPlaces = [
    // HTML
    '<a @href>a</a><a @ping>a</a><area alt="" @href><area alt="" @ping>', '<base @href><link rel="zoq" @href>',
    '<blockquote @cite></blockquote><q @cite></q><del @cite></del><ins @cite></ins>',
    '<form @action><button @formaction>b</button><input @formaction></form>', '<input type="image" alt="" @src>',
    '<img alt="" @src><img alt="" @longdesc><img alt="" @lowsrc><img alt="" @dynsrc><img alt="" @usemap>',
    '<iframe @src></iframe><iframe @longdesc></iframe><embed @src>',
    '<object @data></object><object @codebase></object><object @classid></object><object @archive></object><object @usemap></object>',
    '<script @src></script><video @src></video><video @poster></video><audio @src></audio><video><source @src><track @src></video>',
    '<table @background><tr><td @background></td><th @background></th></tr></table>',
    '<command @icon><menuitem @icon></menuitem><applet @codebase></applet><applet @archive></applet>',
    // SVG
    '<svg><a @href><text>a</text></a><a @xlink:href><text>a</text></a><image @href/><image @xlink:href/><use @href/><use @xlink:href/>' .
    '<script @href></script><script @xlink:href></script><filter @xlink:href><feImage @href/><feImage @xlink:href/></filter>' .
    '<pattern @href/><linearGradient @href/><radialGradient @xlink:href/><text><textPath @href>t</textPath><tref @xlink:href/></text>' .
    '<cursor @xlink:href/><animateMotion @href><mpath @href/><mpath @xlink:href/></animateMotion><animate @href/><set @xlink:href/>' .
    '<animateTransform @href/><discard @href/><a><set attributeName="href" @to/><animate attributeName="href" @from/>' .
    '<animate attributeName="href" @by/><animate attributeName="xlink:href" @values/></a></svg>',
    // MathML
    '<math @href><mi @href>x</mi><mo @href>+</mo><mn @href>1</mn><ms @href>s</ms><mtext @href>t</mtext>' .
    '<mrow @href></mrow><mstyle @href></mstyle><mi><mglyph @src/></mi></math>',
];
$urlScripts = [
    'javascript:top.alert(101)', 'JaVaScRiPt:top.alert(102)', " \t\n\x01\x1fjavascript:top.alert(103)",
    "\x00javascript:top.alert(104)", "java\tscr\nipt:top.alert(105)", "jav\rascript:top.alert(106)",
    "\x0c\x7fjavascript:top.alert(107)", 'vbscript:msgbox(108)', 'VBScript:msgbox(109)',
    'data:text/html,<script>top.alert(110)</script>', ' DATA:text/html;base64,' . base64_encode('<script>top.alert(111)</script>'),
    "da\tta:image/svg+xml,<svg onload=top.alert(112)>", 'data:image/svg+xml;base64,' . base64_encode('<svg onload="top.alert(113)"/>'),
    'java&#115;cript:top.alert(114)', '&#106;avascript:top.alert(115)', 'javascript&colon;top.alert(116)',
    '&#x09;javascript:top.alert(117)',
];
$urlKept = ['data:image/png;base64,iVBORw0KGgo=', 'https://zoq.invalid/a?b=c#d', 'mailto:a@zoq.invalid', '/p?q=a:b'];
$urlValues = ['value0', 'value1', ...$urlScripts, ...$urlKept];
$urlTemplate = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><base href=\"about:blank\">" .
    '<script>window.zoqRan = []; window.alert = window.confirm = window.prompt = function (x) { zoqRan.push(String(x)); };</script>' .
    "</head><body>\n<!--BEGIN row--><div class=\"case\" id=\"c{i}\">\n" .
    preg_replace('/@([\w:]+)/', 'data-u="$1" $1="{v}"', implode("\n", $urlPlaces)) . "\n</div>\n<!--END row--></body></html>\n";
// Each attribute holds the value exactly, or the harmless fragment that replaces a script URL;
// never a URL whose scheme, as the browser's own URL parser reads it, runs a script or a page
// (data: but the raster images), in any item of an animation's list. Kept URLs arrive exactly.
$urlChecker = <<<'JS'
<script>
(function () {
  const expected = EXPECTED.map((b) => new TextDecoder().decode(Uint8Array.from(atob(b), (c) => c.charCodeAt(0))));
  const attr = (s) => s.replace(/\r\n?/g, "\n").replace(/\0/g, "\uFFFD");
  const scripted = (s) => {
    let url; try { url = new URL(s, "https://zoq.invalid/"); } catch (e) { return false; }
    return url.protocol === "javascript:" || url.protocol === "vbscript:" ||
           (url.protocol === "data:" && !/^data:image\/(png|gif|jpe?g|webp|avif)[;,]/i.test(url.href));
  };
  const report = { shapes: [], bad: [], ran: window.zoqRan, cases: 0 };
  document.querySelectorAll(".case").forEach((el) => {
    const i = Number(el.id.slice(1)), v = expected[i];
    report.cases++;
    report.shapes.push(Array.from(el.querySelectorAll("*"), (n) => n.tagName + "[" + Array.from(n.attributes, (a) => a.name).sort().join(",") + "]").join(" "));
    el.querySelectorAll("[data-u]").forEach((e) => {
      const name = e.getAttribute("data-u"), got = e.getAttribute(name), where = e.tagName + " " + name;
      if (got === null) return report.bad.push([i, where, null, "the attribute"]);
      if ((name === "values" ? got.split(";") : [got]).some(scripted)) report.bad.push([i, where, got, "no script URL"]);
      else if (got !== attr(v) && (i < 2 || i >= KEPT || got !== "#zoqc-unsafe-url") && name !== "values")
        report.bad.push([i, where, got, attr(v)]);
    });
  });
  document.documentElement.setAttribute("data-zoq-report", btoa(unescape(encodeURIComponent(JSON.stringify(report)))));
})();
</script>
JS;
$urlChecker = str_replace('KEPT', (string)(2 + count($urlScripts)), $urlChecker);
@mkdir("$dir/urls");
file_put_contents("$dir/urls/page.zoq", $script);
file_put_contents("$dir/urls/page.zot", $urlTemplate);
$pages[] = page($zoqc, "$dir/urls", 'evil', ['--escape'], $urlValues, $urlChecker);
$pages[] = page($zoqc, "$dir/urls", 'raw', [], $urlValues, $urlChecker);
[$safe, $evil, $raw, $urlEvil, $urlRaw] = reports($pages);
foreach (['harmless' => $safe, 'hostile' => $evil] as $name => $r) {
    if (isset($r['missing'])) { $fail("$name: the checker never ran (the page swallowed it)"); continue; }
    if ($r['cases'] !== count($hostile)) $fail("$name: {$r['cases']} cases in the DOM, not " . count($hostile));
    foreach ($r['ran'] as $ran) $fail("$name: a value's script ran: alert($ran)");
    foreach ($r['bad'] as [$i, $what, $got, $want])
        $fail("$name value $i (" . json_encode($name === 'hostile' ? $hostile[$i] : $harmless[$i], JSON_INVALID_UTF8_SUBSTITUTE) . "), $what: got " . json_encode($got) . ', want ' . json_encode($want));
}
if (!isset($safe['missing'], $evil['missing']) && ($safe['shape'] ?? null) !== ($evil['shape'] ?? null))
    $fail('the hostile page\'s elements and attributes differ from the harmless page\'s: ' .
          json_encode(array_values(array_diff_assoc($evil['shape'] ?? [], $safe['shape'] ?? []))));
// Without --escape the same checks must catch the injections.
if (!isset($raw['missing']) && !$raw['ran'] && ($raw['shape'] ?? null) === ($safe['shape'] ?? null))
    $fail('without --escape the hostile values went unnoticed: the checks prove nothing');
if (isset($urlEvil['missing'])) $fail("the URL page's checker never ran");
elseif ($urlEvil['cases'] !== count($urlValues)) $fail("URL cases: {$urlEvil['cases']} in the DOM, not " . count($urlValues));
foreach ($urlEvil['ran'] ?? [] as $ran) $fail("a URL's script ran: alert($ran)");
foreach ($urlEvil['bad'] ?? [] as [$i, $what, $got, $want])
    $fail("URL value $i (" . json_encode($urlValues[$i]) . "), $what: got " . json_encode($got) . ', want ' . json_encode($want));
foreach ($urlEvil['shapes'] ?? [] as $i => $shape)
    if ($shape !== $urlEvil['shapes'][0]) $fail("URL value $i (" . json_encode($urlValues[$i]) . ") changed the elements or attributes");
if (!isset($urlRaw['missing']) && !$urlRaw['ran'] && !$urlRaw['bad'])
    $fail('without --escape the script URLs went unnoticed: the URL checks prove nothing');
$urlCount = substr_count($urlTemplate, 'data-u=');
echo "$urlCount URL attributes, " . count($urlValues) . " URLs each\n";
echo $failed ? "$failed failures\n" : count($hostile) . " hostile values in every context: no injection, every value exact\n";
exit($failed ? 1 : 0);
