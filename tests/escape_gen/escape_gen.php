<?php
// A generative --escape test in a real browser. Each seed gives a template from the grammar in
// grammar.php, each placeholder a hostile value; zoqc --escape translates it (a refusal with a
// located error passes, and is counted), php renders it with harmless markers and with the
// hostile values, headless Chromium loads both, and checker.js compares them: no script of a
// value may run, the page must keep its elements, and every value must arrive as it was, but
// for what the browser itself does to it. A failing template is shrunk, then printed with its
// seed, its values and what happened.
//
//   php tests/escape_gen/escape_gen.php ZOQC [CHROMIUM]    (exit 77: no Chromium)
//   SEEDS=N FIRST=S: the seeds S .. S+N-1 (default 1 .. 30); BATCH=B pages per browser run
//   FINDINGS=FILE: append each failure not in KNOWN (shrunk) to FILE; KNOWN=0: fail those too
require __DIR__ . '/grammar.php';

// Failures that are known and not fixed yet: where the value stood (its place, " = ", its
// value), what happened, and why it is skipped.
const KNOWN = [];

$zoqc = realpath($argv[1] ?? '') ?: exit("usage: escape_gen.php ZOQC [CHROMIUM]\n");
$chromium = $argv[2] ?? '/usr/bin/chromium';
if (!is_executable($chromium)) {
    echo "chromium not found: skipped\n";
    exit(77);
}
$first = (int)(getenv('FIRST') ?: 1);
$seeds = (int)(getenv('SEEDS') ?: 30);
$batch = (int)(getenv('BATCH') ?: 60);
$findings = getenv('FINDINGS') ?: null;
$dir = sys_get_temp_dir() . '/zoqc-escape-gen-' . getmypid();
mkdir($dir);
register_shutdown_function(fn () => exec('rm -rf ' . escapeshellarg($dir)));

// The page the translated template prints with AValues.
function render(string $APage, array $AValues): string {
    $GLOBALS['zqValues'] = $AValues;
    ob_start();
    try { include $APage; } catch (Throwable $e) { echo "PHP: " . $e->getMessage(); }
    return ob_get_clean();
}

// Runs the cases (each from generate()) in one browser: per case, null when it passed,
// "refused: " and the first error when zoqc refused it with located errors, else its problems
// as [placeholder, text].
function run(array $ACases): array {
    global $zoqc, $chromium, $dir;
    exec('rm -rf ' . escapeshellarg("$dir/site"));
    $refused = [];
    foreach (['esc' => ['--escape'], 'raw' => []] as $kind => $options) {  // raw: without --escape
        $mine = array_filter($ACases, fn ($c) => ($c['raw'] ?? false) === ($kind === 'raw'));
        if (!$mine) continue;
        foreach ($mine as $i => $c) {
            mkdir("$dir/site/$kind/p$i", 0777, true);
            file_put_contents("$dir/site/$kind/p$i/page.zoq", $c['script']);
            file_put_contents("$dir/site/$kind/p$i/page.zot", $c['template']);
        }
        $cmd = [$zoqc, '-q', '-w', ...$options, '--diagnostics-format=json', '-r', "$dir/site/$kind"];
        exec(implode(' ', array_map('escapeshellarg', $cmd)) . ' 2>' . escapeshellarg("$dir/diagnostics"), $out, $code);
        if ($code > 1) exit("zoqc failed with exit code $code: " . implode("\n", $out) . file_get_contents("$dir/diagnostics") . "\n");
        foreach ((array)json_decode(file_get_contents("$dir/diagnostics") ?: '[]', true) as $d)
            if ($d['severity'] === 'error' && preg_match('~/p(\d+)/page\.zo[qt]$~', $d['file'], $m))
                $refused[$m[1]][] = isset($d['line'], $d['column']) ? $d['message'] : "an error without a place: {$d['message']}";
    }
    $pages = [];
    $frames = '';
    $results = [];
    foreach ($ACases as $i => $c) {
        $at = ($c['raw'] ?? false ? 'raw' : 'esc') . "/p$i";
        if (isset($refused[$i])) {
            $results[$i] = ($without = preg_grep('/^an error without a place/', $refused[$i])) ? [[-1, reset($without)]] : 'refused: ' . $refused[$i][0];
            continue;
        }
        if (!is_file("$dir/site/$at/page.php")) { $results[$i] = [[-1, 'zoqc wrote no page and said no error']]; continue; }
        $hostile = [];
        foreach ($c['holes'] as $k => [$v]) $hostile[] = str_replace('ZQN', (string)($i * 1000 + $k), HOSTILE[$v]);
        file_put_contents("$dir/site/$at/h.html", render("$dir/site/$at/page.php", array_map(fn ($k) => "zqM{$k}q", array_keys($c['holes']))));
        file_put_contents("$dir/site/$at/x.html", render("$dir/site/$at/page.php", $hostile));
        $pages[] = ['id' => "p$i", 'values' => array_map('base64_encode', $hostile)];
        $frames .= "<iframe id=\"p{$i}h\" src=\"$at/h.html\"></iframe><iframe id=\"p{$i}x\" src=\"$at/x.html\"></iframe>\n";
        $results[$i] = null;
    }
    if (!$pages) return $results;
    file_put_contents("$dir/site/index.html", "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><script>const ZQPAGES = " .
        json_encode($pages) . ";\n" . file_get_contents(__DIR__ . '/checker.js') . "</script></head><body>\n$frames</body></html>\n");
    $dom = shell_exec(implode(' ', array_map('escapeshellarg', [$chromium, '--headless', '--no-sandbox', '--disable-gpu',
        '--no-first-run', '--disable-background-networking', '--allow-file-access-from-files', "--user-data-dir=$dir/profile",
        '--virtual-time-budget=10000', '--dump-dom', "file://$dir/site/index.html"])) . ' 2>/dev/null');
    if (!preg_match('/data-zq-report="([^"]*)"/', (string)$dom, $m)) exit("the checker never reported (Chromium failed?)\n");
    foreach (json_decode(base64_decode($m[1]), true) as $r) {
        $i = (int)substr($r['id'], 1);
        $results[$i] = $r['problems'] ?: null;
        if (getenv('VERBOSE') && array_filter($r['errors'][0] ?? [])) echo "p$i harmless page errors: " . json_encode($r['errors'][0]) . "\n";
    }
    return $results;
}

// The placeholder whose value caused AWhat, said to be AK: in a case with one hostile value,
// that one (unless the harmless values failed already).
function owner(array $ACase, int $AK, string $AWhat): int {
    $hostile = array_filter(array_keys(array_filter(array_column($ACase['holes'], 0))), fn ($k) => str_contains($ACase['template'], "{v$k}"));
    return count($hostile) === 1 && !str_contains($AWhat, 'harmless') ? reset($hostile) : $AK;
}

// The reason KNOWN gives for every problem of AProblems, or null when one is not known.
function known(array $ACase, array $AProblems): ?string {
    $reasons = [];
    foreach ($AProblems as [$k, $what]) {
        $k = owner($ACase, $k, $what);
        $where = isset($ACase['holes'][$k]) ? $ACase['holes'][$k][1] . ' = ' . json_encode(HOSTILE[$ACase['holes'][$k][0]]) : '';
        $reason = null;
        foreach (getenv('KNOWN') === '0' ? [] : KNOWN as [$place, $problem, $why])
            if ($k >= 0 && preg_match($place, $where) && preg_match($problem, $what)) { $reason = $why; break; }
        if ($reason === null) return null;
        $reasons[$reason] = true;
    }
    return implode('; ', array_keys($reasons));
}

// The smallest case found from ACase that still fails the same way: fewer choices, then
// smaller ones, a batch of candidates per browser run.
function shrink(array $ACase, array $AProblems): array {
    $kind = fn (array $p) => preg_replace('/:.*/s', '', $p[0][1]);
    $want = $kind($AProblems);
    for ($round = 0; $round < 20; $round++) {
        $choices = $ACase['choices'];
        $groups = [[], [], []];  // long cuts, short cuts, smaller choices: tried in this order
        foreach ([16, 4, 1] as $size)
            for ($at = 0; $at + $size <= count($choices); $at += max(1, $size >> 1))
                $groups[$size === 1 ? 1 : 0][] = array_merge(array_slice($choices, 0, $at), array_slice($choices, $at + $size));
        foreach ($choices as $at => $c) if ($c) array_push($groups[2], array_replace($choices, [$at => 0]), array_replace($choices, [$at => intdiv($c, 2)]));
        $best = null;
        foreach ($groups as $candidates) {
            $cases = array_values(array_filter(array_map(fn ($c) => generate($c, false), $candidates),
                fn ($c) => strlen($c['template']) < strlen($ACase['template']) ||
                           array_sum(array_column($c['holes'], 0)) < array_sum(array_column($ACase['holes'], 0))));
            foreach (array_chunk($cases, 60) as $chunk)
                foreach (run($chunk) as $i => $r)
                    if (is_array($r) && $kind($r) === $want && known($chunk[$i], $r) === null && ($best === null || strlen($chunk[$i]['template']) < strlen($best[0]['template'])))
                        $best = [$chunk[$i], $r];
            if ($best) break;
        }
        if (!$best) break;
        [$ACase, $AProblems] = $best;
    }
    return [$ACase, $AProblems];
}

function describe(int $ASeed, array $ACase, array $AProblems): string {
    $s = "seed $ASeed, template:\n" . $ACase['template'];
    foreach ($AProblems as [$k, $what]) {
        $hole = $ACase['holes'][$k = owner($ACase, $k, $what)] ?? null;
        $s .= $hole ? "{v$k} = " . json_encode(HOSTILE[$hole[0]], JSON_INVALID_UTF8_SUBSTITUTE | JSON_UNESCAPED_SLASHES) .
                      " in " . $hole[1] . ": $what\n" : "$what\n";
    }
    return $s;
}

$cases = [];
for ($seed = $first; $seed < $first + $seeds; $seed++) {
    mt_srand($seed);
    $cases[$seed] = generate([], true);
}
// ACase with one hostile value, the one of placeholder AKeep (the others harmless).
function isolate(array $ACase, int $AKeep): array {
    foreach ($ACase['holes'] as $k => [, , $at]) if ($k !== $AKeep) $ACase['choices'][$at] = 0;  // its value, not its escaper
    return generate($ACase['choices'], false);
}

$counts = ['passed' => 0, 'refused' => 0, 'known' => 0, 'failed' => 0];
$proof = null;  // how many pages ran a value's script without --escape: none, and the checks prove nothing
foreach (array_chunk($cases, $batch, true) as $chunk) {
    $raw = [];  // the first pages again, every value '"><img ... onerror=...>'
    foreach ($proof === null ? array_slice($chunk, 0, 10) : [] as $c)
        $raw[] = ['raw' => true, 'holes' => array_map(fn ($h) => array_replace($h, [0 => 3]), $c['holes'])] + $c;
    $results = run([...array_values($chunk), ...$raw]);
    if ($proof === null) $proof = count(array_filter(array_slice($results, count($chunk)), fn ($r) => is_array($r) && preg_grep('/ran$/', array_column($r, 1))));
    // Each failure again with one hostile value at a time, to tell whose value it was.
    $alone = [];
    foreach (array_keys($chunk) as $j => $seed)
        if (is_array($results[$j]) && known($chunk[$seed], $results[$j]) === null)
            foreach ($chunk[$seed]['holes'] as $k => [$v]) if ($v) $alone[] = [$seed, isolate($chunk[$seed], $k)];
    $aloneResults = [];
    foreach (array_chunk(array_column($alone, 1), $batch) as $cases) array_push($aloneResults, ...run($cases));
    foreach (array_keys($chunk) as $j => $seed) {
        $r = $results[$j];
        if (!is_array($r)) {
            $counts[$r ? 'refused' : 'passed']++;
            if ($r) echo "seed $seed: $r\n";
            continue;
        }
        $failures = [];  // [case, problems] not known
        $reasons = ($why = known($chunk[$seed], $r)) === null ? [] : [$why => true];
        foreach ($alone as $a => [$from, $case])
            if ($from === $seed && is_array($aloneResults[$a]))
                if (($why = known($case, $aloneResults[$a])) === null) $failures[] = [$case, $aloneResults[$a]];
                else $reasons[$why] = true;
        if (!$failures && !$reasons) $failures[] = [$chunk[$seed], $r];  // only values together fail
        if (!$failures) {
            $counts['known']++;
            echo "seed $seed: skipped, known: " . implode('; ', array_keys($reasons)) . "\n";
            continue;
        }
        $counts['failed']++;
        foreach (array_slice($failures, 0, getenv('SHRINK') === '0' ? 99 : 1) as [$case, $problems]) {
            [$small, $problems] = getenv('SHRINK') === '0' ? [$case, $problems] : shrink($case, $problems);
            $text = describe($seed, $small, $problems);
            echo "FAIL: $text\n";
            if ($findings) file_put_contents($findings, "\n```\n$text```\n", FILE_APPEND | LOCK_EX);
        }
    }
}
echo "seeds $first to " . ($first + $seeds - 1) . ': ' . implode(', ', array_map(fn ($k, $v) => "$v $k", array_keys($counts), $counts)) .
     " (without --escape, a value's script ran in $proof of " . min(10, $seeds, $batch) . " pages)\n";
if (!$proof && $seeds >= 10) echo "FAIL: without --escape no value's script ran: the checks prove nothing\n";
exit($counts['failed'] || (!$proof && $seeds >= 10) ? 1 : 0);
