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
if (!is_executable($chromium)) {
    echo "chromium not found: skipped\n";
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
<button class="evs" onclick="window.zoqGot = '{v}'">s</button>
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

// The page's report for AValues, rendered from the page translated with AOptions.
function report(string $zoqc, string $chromium, string $dir, array $AOptions, array $AValues, string $checker): array {
    exec(implode(' ', array_map('escapeshellarg', [$zoqc, '-q', '-w', ...$AOptions, "$dir/page"])) . ' 2>&1', $out, $code);
    if ($code !== 0) exit("zoqc failed:\n" . implode("\n", $out) . "\n");
    $encoded = implode(',', array_map('base64_encode', $AValues));
    $html = shell_exec('ZOQ_VALUES=' . escapeshellarg($encoded) . ' php ' . escapeshellarg("$dir/page.php"));
    $html .= str_replace('EXPECTED', json_encode(array_map('base64_encode', $AValues)), $checker);
    file_put_contents("$dir/page.html", $html);
    $dom = shell_exec(implode(' ', array_map('escapeshellarg', [$chromium, '--headless', '--no-sandbox',
        '--disable-gpu', '--no-first-run', '--disable-background-networking', '--user-data-dir=' . "$dir/profile",
        '--virtual-time-budget=3000', '--dump-dom', "file://$dir/page.html"])) . ' 2>/dev/null');
    if (!preg_match('/data-zoq-report="([^"]*)"/', (string)$dom, $m)) return ['missing' => true];
    return json_decode(base64_decode($m[1]), true);
}

$failed = 0;
$fail = function (string $AWhat) use (&$failed) { echo "FAIL: $AWhat\n"; $failed++; };
$safe = report($zoqc, $chromium, $dir, ['--escape'], $harmless, $checker);
$evil = report($zoqc, $chromium, $dir, ['--escape'], $hostile, $checker);
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
$raw = report($zoqc, $chromium, $dir, [], $hostile, $checker);
if (!isset($raw['missing']) && !$raw['ran'] && ($raw['shape'] ?? null) === ($safe['shape'] ?? null))
    $fail('without --escape the hostile values went unnoticed: the checks prove nothing');
echo $failed ? "$failed failures\n" : count($hostile) . " hostile values in every context: no injection, every value exact\n";
exit($failed ? 1 : 0);
