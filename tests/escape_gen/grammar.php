<?php
// The templates of the generative --escape test: a grammar of the places a placeholder can
// stand (HTML text and attributes, RCDATA and raw text, SVG and MathML, srcdoc, URLs with a
// scheme the template wrote, event handlers, scripts, CSS), walked by a list of choices. The
// same choices give the same template; a shorter list, or smaller choices, a smaller one
// (a choice of 0 is always the simplest branch), which is how a failing template is shrunk.

// The values every placeholder may get: 0 is harmless, the rest try to break out of some
// place. ZQN stands for the placeholder's number, so a script that runs says whose value it was.
const HOSTILE = [
    'plain', '<script>top.zqx(ZQN)</script>', '<img src=x onerror=top.zqx(ZQN)>',
    '"><img src=x onerror=top.zqx(ZQN)>', "'><img src=x onerror=top.zqx(ZQN)>",
    '" autofocus onfocus="top.zqx(ZQN)', "' onmouseover='top.zqx(ZQN)",
    '</textarea><img src=x onerror=top.zqx(ZQN)>', '</title><img src=x onerror=top.zqx(ZQN)>',
    '</xmp></noscript></noembed></noframes></iframe><img src=x onerror=top.zqx(ZQN)>',
    '</style><img src=x onerror=top.zqx(ZQN)>', '</script><img src=x onerror=top.zqx(ZQN)>',
    '</svg></math><img src=x onerror=top.zqx(ZQN)>', '--><img src=x onerror=top.zqx(ZQN)>',
    '--!><img src=x onerror=top.zqx(ZQN)>', ']]><img src=x onerror=top.zqx(ZQN)>',
    '<!--<script>', '<!--', '-->', '</script>', '<p>', '<svg><script>top.zqx(ZQN)</script>',
    'javascript:top.zqx(ZQN)', 'JaVaScRiPt:top.zqx(ZQN)', " \t\x01javascript:top.zqx(ZQN)",
    "java\tscr\nipt:top.zqx(ZQN)", "\x00javascript:top.zqx(ZQN)", 'java&#115;cript:top.zqx(ZQN)',
    '&#106;avascript:top.zqx(ZQN)', 'javascript&colon;top.zqx(ZQN)', 'vbscript:top.zqx(ZQN)',
    'data:text/html,<script>top.zqx(ZQN)</script>', 'javascript', ':top.zqx(ZQN)',
    "'; top.zqx(ZQN); '", '"; top.zqx(ZQN); "', "\\'; top.zqx(ZQN); //", '\\"; top.zqx(ZQN); //',
    '`; top.zqx(ZQN); `', '${top.zqx(ZQN)}', '{top.zqx(ZQN)}', '}{top.zqx(ZQN)}{', '${', '{', '}',
    "x');top.zqx(ZQN);//", 'x");top.zqx(ZQN);//', "%27);top.zqx(ZQN);//", '%22);top.zqx(ZQN);//',
    '*/top.zqx(ZQN)/*', "\ntop.zqx(ZQN)//", "\u{2028}top.zqx(ZQN)//", "a\u{2028}b\u{2029}c",
    '/top.zqx(ZQN)/', '/,top.zqx(ZQN),/', '#39;top.zqx(ZQN);//', '#x27;);top.zqx(ZQN);//',
    'quot;', 'lt;', 'amp;', '&amp; &lt; &quot;', '&', '\\', "\\\n", '`', '$', '%', '%41',
    '}; * { color: red } a {', 'red; background: url(javascript:top.zqx(ZQN))',
    'expression(top.zqx(ZQN))', ') top.zqx(ZQN) (', "\nleading", "\r\nleading", "\n", "x\ny\r\nz",
 '(', '.*', '[', "\0", "a\0b", "\xff\xfe invalid \xc3(", "\xed\xa0\x80\xc0\xaf", ' ', 'a b',
];

final class Grammar {
    public array $Holes = [];  // per placeholder: [its value's number, where it stands, its choice, its escaper]
    private int $At = 0;
    private array $Where = [];  // the places around the current one
    private array $Seen = [];   // what the current script or style held before this point

    // AChoices: the choices to walk; ARandom: draw more at random once they run out (else 0).
    public function __construct(public array $Choices, private bool $ARandom) {}

    private function pick(int $AOf): int {
        if ($this->At >= count($this->Choices)) {
            if (!$this->ARandom) return 0;
            $this->Choices[] = mt_rand(0, 1 << 30);
        }
        return $this->Choices[$this->At++] % $AOf;
    }
    private function one(array $AOptions) { return $AOptions[$this->pick(count($AOptions))]; }
    private function many(callable $AItem, int $AMax = 4): string {
        $s = $AItem();
        for ($i = 1; $i < $AMax && $this->pick(3); $i++) $s .= $AItem();
        return $s;
    }
    private function in(string $APlace, callable $AInner): string {
        $this->Where[] = $APlace;
        $s = $AInner();
        array_pop($this->Where);
        return $s;
    }
    private function hole(string $APlace): string {
        $k = count($this->Holes);
        $seen = $this->Seen ? ' after ' . implode(' ', array_unique($this->Seen)) : '';
        $at = $this->At;  // the choice of its value, kept for isolate()
        $value = $this->pick(count(HOSTILE));
        // Mostly the bare value; at times a value the script escaped for HTML already.
        $escaper = $this->pick(3) ? '' : $this->one(['', 'ENT_QUOTES', 'ENT_NOQUOTES', 'ENT_COMPAT', 'ENT_QUOTES | ENT_HTML5', 'htmlentities']);
        $via = $escaper === '' ? '' : " via $escaper";
        $this->Holes[] = [$value, implode(' > ', [...$this->Where, $APlace]) . $seen . $via, $at, $escaper];
        return "{v$k}";
    }
    private function text(): string { return $this->one(['', 'a ', ' b', '&amp;', 'x&', '&#123;', "\n", 'é ']); }
    private function jsText(): string { return $this->one(['', 'a ', ' b', '&', 'é', '\\n', '/']); }
    public function used(): int { return $this->At; }

    public function page(): string {
        return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><script>var zqLog=[],zqErr=[];" .
               "function zq(v){zqLog.push(v)}onerror=function(m){zqErr.push(String(m))}</script></head><body>\n" .
               $this->many(fn () => $this->html(0) . "\n", 5) . "</body></html>\n";
    }

    // Markup in the body (ADepth: inside how many srcdoc or foreign-content integration points).
    private function html(int $ADepth, string $ALog = 'zq'): string {
        $q = $this->one(['"', "'"]);
        switch ($this->pick($ADepth < 2 ? 12 : 10)) {
            case 0: return $this->in('p', fn () => '<p>' . $this->text() . $this->hole('text') . $this->text() . '</p>');
            case 1:
                $name = $this->one(['title', 'class', 'alt', 'data-x', 'value', 'aria-label', 'id']);
                if (!$this->pick(16)) $q = '';  // refused: the value should be quoted
                return $this->in("span[$name]$q", fn () => "<span $name=$q" . $this->text() . $this->hole('attribute') . $this->text() . "$q>s</span>");
            case 2:
                $tag = $this->one(['textarea', 'title', 'pre', 'listing', 'xmp', 'noscript', 'noembed', 'noframes', 'iframe']);
                $lead = $this->one(['', '', 'a', "\n"]);
                return $this->in($tag, fn () => "<$tag>$lead" . $this->hole($lead === '' ? 'text at the start' : 'text') . $this->text() . "</$tag>");
            case 3: return $this->in('comment', fn () => '<!--' . $this->text() . $this->hole('comment') . $this->text() . '-->');
            case 4: return $this->url($q, $ALog);
            case 5:
                $event = $this->one(['onclick', 'onmouseover', 'onfocus', 'oninput']);
                return $this->in("button[$event]$q", fn () => "<button $event=$q" . $this->attr($this->js('handler', $ALog), $q) . "$q>b</button>");
            case 6: return $this->in('script', fn () => '<script>' . $this->js('script', $ALog) . "</script>");
            case 7: return $this->in('style', fn () => '<style>' . $this->css(true) . '</style>');
            case 8: return $this->in("span[style]$q", fn () => "<span style=$q" . $this->attr($this->css(false), $q) . "$q>c</span>");
            case 9: return $this->in('svg', fn () => '<svg>' . $this->many(fn () => $this->svg($ADepth, $ALog)) . '</svg>');
            case 10: return $this->in('math', fn () => '<math>' . $this->many(fn () => $this->math($ADepth, $ALog)) . '</math>');
            default:
                $inner = $this->in("iframe[srcdoc]$q", fn () => $this->many(fn () => $this->html($ADepth + 1, 'parent.zq'), 3));
                return "<iframe srcdoc=$q" . $this->attr($inner, $q) . "$q></iframe>";
        }
    }

    // AText as the value of an attribute quoted with AQuote; a bare "&" kept at times, as
    // templates often hold one.
    private function attr(string $AText, string $AQuote): string {
        if ($this->pick(4)) $AText = str_replace('&', '&amp;', $AText);
        return str_replace($AQuote, $AQuote === '"' ? '&quot;' : '&#39;', $AText);
    }

    private function url(string $AQuote, string $ALog): string {
        [$tag, $name] = $this->one([['a', 'href'], ['a', 'href'], ['iframe', 'src'], ['form', 'action'], ['img', 'src'], ['area', 'href'], ['button', 'formaction'], ['blockquote', 'cite']]);
        $place = "$tag" . "[$name]$AQuote";
        if ($tag === 'a' && $this->pick(2)) {  // a script the template wrote in the URL
            $scheme = $this->one(['javascript:', 'JavaScript:', ' javascript:', 'java&#115;cript:']);
            $code = $this->in("$place $scheme", fn () => $this->js('url', $ALog));
            return "<a href=$AQuote$scheme" . $this->attr($code, $AQuote) . "$AQuote>j</a>";
        }
        $before = $this->one(['', '', '/p?q=', 'https://e.example/', 'x', '#', 'mailto:', './a/']);
        return $this->in($place, fn () => "<$tag $name=$AQuote$before" . $this->hole('URL') . $this->one(['', '', '/x', '&amp;z=1', ':']) .
            "$AQuote>" . ($tag === 'img' || $tag === 'area' ? '' : "u</$tag>"));
    }

    private function svg(int $ADepth, string $ALog): string {
        switch ($this->pick($ADepth < 2 ? 9 : 8)) {
            case 0: return $this->in('text', fn () => '<text>' . $this->text() . $this->hole('text') . '</text>');
            case 1: return $this->in('text attribute', fn () => '<text class="' . $this->hole('attribute') . '">t</text>');
            case 2:
                $name = $this->one(['href', 'xlink:href']);
                return $this->in("a[$name]", fn () => "<a $name=\"" . $this->hole('URL') . '"><text>a</text></a>');
            case 3: return $this->in('cdata', fn () => '<text><![CDATA[' . $this->text() . $this->hole('cdata') . ']]></text>');
            case 4: return $this->in('script', fn () => '<script>' . $this->markup($this->js('svg', $ALog)) . '</script>');
            case 5: return $this->in('style', fn () => '<style>' . $this->markup($this->css(true)) . '</style>');
            case 6:
                $tag = $this->one(['title', 'desc', 'textarea', 'style', 'xmp']);
                return $this->in($tag, fn () => "<g><$tag>" . $this->hole('text') . "</$tag></g>");
            case 7: return $this->in('a set[to]', fn () => '<a><set attributeName="href" to="' . $this->hole('URL') . '"/><text>s</text></a>');
            default: return $this->in('foreignObject', fn () => '<foreignObject>' . $this->html($ADepth + 1, $ALog) . '</foreignObject>');
        }
    }

    private function math(int $ADepth, string $ALog): string {
        switch ($this->pick($ADepth < 2 ? 5 : 4)) {
            case 0: return $this->in('mi', fn () => '<mi>' . $this->hole('text') . '</mi>');
            case 1: return $this->in('mi[title]', fn () => '<mi title="' . $this->hole('attribute') . '">m</mi>');
            case 2: return $this->in('mtext style', fn () => '<mtext><style>' . $this->css(true) . '</style></mtext>');
            case 3: return $this->in('ms', fn () => '<ms><![CDATA[' . $this->hole('cdata') . ']]></ms>');
            default: return $this->in('mtext', fn () => '<mtext>' . $this->html($ADepth + 1, $ALog) . '</mtext>');
        }
    }

    // Script text in foreign content is markup: "&" and "<" as references.
    private function markup(string $AText): string { return str_replace(['&', '<'], ['&amp;', '&lt;'], $AText); }

    // JavaScript statements for AMode (script, handler, url, svg) that log their values with ALog.
    private function js(string $AMode, string $ALog): string {
        $this->Seen = [];
        $s = $this->many(fn () => $this->statement($AMode, $ALog), 5);
        $this->Seen = [];
        return $s;
    }

    private function statement(string $AMode, string $ALog): string {
        $end = $AMode === 'url' ? ';' : $this->one([";\n", ';', "\n"]);
        switch ($this->pick(9)) {
            case 0: return "$ALog(" . $this->hole('code') . ")$end";
            case 1:
                $q = $this->one(["'", '"']);
                return "$ALog($q" . $this->in("string$q", fn () => $this->jsText() . $this->hole('string') . $this->jsText()) . "$q)$end";
            case 2:
                $before = $this->one(['', 'a ', '$', 'Total: $', '${1}', '${`', '$$']);
                $inner = $this->in("template string after `$before", fn () => $this->hole('string'));
                return "$ALog(`$before$inner" . ($before === '${`' ? '`}' : '') . "`)$end";
            case 3:
                $flags = $this->one(['', 'g', 'i', 'u', 'm', 's']);
                return "$ALog(/^a" . $this->in('regular expression', fn () => $this->hole('regex')) . "b\$/$flags)$end";
            case 4:
                if ($AMode === 'url') return "$ALog(/* a */1)$end";
                $c = $this->one(['// ', '/* ', '<!-- ']);
                if ($c === '<!-- ' && $AMode !== 'script') $c = '// ';
                return "1;$c" . $this->in('comment', fn () => $this->hole('comment') . $this->jsText()) . ($c === '/* ' ? ' */' : '') . "\n";
            case 5: return $this->regexOrDivision($ALog) . $end;
            case 6:  // what the HTML tokenizer reads inside a script: escaped and double-escaped states
                if ($AMode !== 'script') return "$ALog('<!-- <b>')$end";
                $mark = $this->one(['<!--', '-->', '<!--<script>', '<!--<script>-->', '<!-- <script></script> -->', '<\/script>', '<script>']);
                $this->Seen[] = "'$mark'";
                return $this->one(["$ALog('$mark')$end", "// old pages wrapped this in $mark\n", "/* $mark */"]);
            case 7: return "if (1) { " . $this->statement($AMode, $ALog) . "}" . $end;
            default:
                return "$ALog({k: [" . $this->one([$this->hole('code'), "'" . $this->hole('string') . "'"]) . "]}.k[0])$end";
        }
    }

    // A regular expression after a token that allows one, or a division after one that does not,
    // each holding a quote, a backtick or the start of a comment; code that never runs where the
    // value would not be what the statement logs.
    private function regexOrDivision(string $ALog): string {
        $body = $this->one(["'", '"', '`', '\/*', '[/*]', "\\/'", '}']);
        $re = "/$body/";
        $this->Seen[] = 'regex';
        switch ($this->pick(4)) {
            case 0:
                $before = $this->one(['return', 'typeof', 'void', 'delete', 'throw', 'new', 'in', 'instanceof',
                                      'case', 'else', 'do', 'yield', 'await', 'if (0)', 'while (0)', 'for (;0;)',
                                      '{}', '=>', '(', ',', '=', '!', '?', ':', '&&', '[', ';']);
                $this->Seen[count($this->Seen) - 1] = "regex after $before";
                return match ($before) {
                    'in', 'instanceof' => "function zqd(){ return 1 $before $re }",
                    'case' => "function zqd(){ switch (1) { case $re: } }",
                    'else' => "function zqd(){ if (1); else $re }",
                    'do' => "function zqd(){ do $re; while (0) }",
                    'yield' => "function* zqd(){ yield $re }",
                    'await' => "async function zqd(){ await $re }",
                    '{}' => "function zqd(){ {} $re }",
                    '=>' => "var zqd = () => $re",
                    '(' => "var zqd = ($re)",
                    ',' => "var zqd = 1, zqe = $re",
                    '=' => "var zqd = $re",
                    '!' => "var zqd = !$re",
                    '?' => "var zqd = 0 ? $re : 1",
                    ':' => "var zqd = 1 ? 1 : $re",
                    '&&' => "var zqd = 0 && $re",
                    '[' => "var zqd = [$re]",
                    ';' => "; $re",
                    default => "function zqd(){ $before $re }",
                };
            case 1: return "$ALog(String($re.test('a')))";
            case 2:
                $this->Seen[count($this->Seen) - 1] = 'division';
                $left = $this->one(['8', 'zqn', '(8)', '[8][0]', 'zqn++', 'zqo.k', 'this.zqn']);
                return "var zqn = 8, zqo = {k: 8}; $ALog(String($left / 2 / 1) + '/' + '" . addcslashes($body, "'\\") . "')";
            default:
                return "$ALog(String(" . $this->one(['typeof', 'void', '!']) . " $re))";
        }
    }

    // CSS: a style sheet (ASheet) or the declarations of a style attribute.
    private function css(bool $ASheet): string {
        $decl = function () {
            $q = $this->one(['"', "'"]);
            return $this->in('css', fn () => match ($this->pick(8)) {
                0 => 'font-family: ' . $this->hole('bare value'),
                1 => "font-family: $q" . $this->text() . $this->hole('string') . "$q",
                2 => "content: $q" . $this->hole('string') . "$q",
                3 => 'background-image: url(' . $this->hole('url()') . ')',
                4 => "background-image: url($q" . $this->hole('url() string') . "$q)",
                5 => '--zq: ' . $this->hole('custom property'),
                6 => 'color: red /* ' . $this->hole('comment') . ' */',
                default => 'color: ' . $this->hole('bare value'),
            });
        };
        $decls = function () use ($decl) {  // one declaration per property: the last valid one wins
            $list = [];
            $this->many(function () use ($decl, &$list) { $d = $decl(); $list[strtok($d, ':')] ??= "$d; "; return ''; }, 3);
            return implode('', $list);
        };
        if (!$ASheet) return $decls();
        return $this->many(fn () => match ($this->pick(4)) {
            0 => "#zq { " . $decls() . "}\n",
            1 => "@media all { .zq { " . $decls() . "} }\n",
            2 => "/* " . $this->in('css', fn () => $this->hole('comment')) . " */\n",
            default => '.zq' . $this->in('css selector', fn () => $this->hole('bare value')) . " { color: red }\n",
        }, 3);
    }
}

// The template, its script and its placeholders for AChoices (ARandom: complete them at random).
function generate(array $AChoices, bool $ARandom): array {
    $g = new Grammar($AChoices, $ARandom);
    $template = $g->page();
    $script = "<?php\n\$zq = \$GLOBALS['zqValues'];\n";
    foreach ($g->Holes as $k => [, , , $escaper])
        $script .= "<<v$k<<" . match ($escaper) {
            '' => "\$zq[$k]",
            'htmlentities' => "htmlentities(\$zq[$k], ENT_QUOTES | ENT_SUBSTITUTE)",
            default => "htmlspecialchars(\$zq[$k], $escaper | ENT_SUBSTITUTE)",
        } . "\n";
    return ['template' => $template, 'script' => $script, 'holes' => $g->Holes, 'choices' => array_slice($g->Choices, 0, $g->used())];
}
