<?php
// php render.php DIR ROUNDS RENDERS [NAME...]: renders the page in DIR by each contestant
// RENDERS times a round, the contestants taking turns (their order rotating) for ROUNDS rounds,
// in this one process; prints a JSON object NAME -> the milliseconds of every render.
// Every contestant gets its data from bench_data(), which decodes DIR/data.json anew each time.
// Before timing, every contestant must print the same text as the first (line ends as LF).
[, $dir, $rounds, $renders] = $argv;
$names = array_slice($argv, 4);
$json = file_get_contents("$dir/data.json");
function bench_data(): array
{
    global $json;
    $d = json_decode($json, true);
    return [$d['v'], $d['rows']];
}

function page(string $file): Closure
{
    return function () use ($file) {
        include $file;
    };
}

function twig(string $dir, bool $escape): Closure
{
    require_once '/usr/share/php/Twig/autoload.php';
    $cache = "$dir/twig-cache-" . ($escape ? 'html' : 'raw');
    $twig = new \Twig\Environment(new \Twig\Loader\FilesystemLoader($dir),
        ['cache' => $cache, 'autoescape' => $escape ? 'html' : false, 'auto_reload' => false]);
    // Twig names a compiled template's class by the template's name, not by the escaping: the
    // escaped page is read from its own copy, so that both classes are in this one process.
    $template = $twig->load($escape ? 'page-escaped.twig' : 'page.twig');
    return function () use ($template) {
        [$v, $rows] = bench_data();
        echo $template->render($v + ['rows' => $rows]);
    };
}

function smarty(string $dir, bool $escape): Closure
{
    require_once '/usr/share/php/smarty4/bootstrap.php';
    $smarty = new Smarty();
    $smarty->setTemplateDir($dir);
    $smarty->setCompileDir("$dir/smarty-compiled-" . ($escape ? 'html' : 'raw'));
    $smarty->setCacheDir("$dir/smarty-cache");
    $smarty->escape_html = $escape;
    $smarty->compile_check = Smarty::COMPILECHECK_OFF;
    return function () use ($smarty, $escape) {
        [$v, $rows] = bench_data();
        $smarty->clearAllAssign();
        $smarty->assign($v);
        $smarty->assign('rows', $rows);
        echo $smarty->fetch($escape ? 'page-escaped.tpl' : 'page.tpl');
    };
}

$all = [
    'hand' => fn() => page("$dir/hand.php"),
    'zoqc' => fn() => page("$dir/page.php"),
    'twig' => fn() => twig($dir, false),
    'smarty' => fn() => smarty($dir, false),
    'hand-escaped' => fn() => page("$dir/hand-escaped.php"),
    'zoqc --escape' => fn() => page("$dir/page-escaped.php"),
    'twig autoescape' => fn() => twig($dir, true),
    'smarty escape_html' => fn() => smarty($dir, true),
];
$contestants = [];
foreach ($names ?: array_keys($all) as $name) {
    $contestants[$name] = $all[$name]();
}

function once(Closure $render): string
{
    ob_start();
    $render();
    return str_replace("\r\n", "\n", ob_get_clean());
}

$expected = [];
foreach ($contestants as $name => $render) {
    $text = once($render);
    $kind = str_contains($name, 'esc') ? 'escaped' : 'raw';
    $expected[$kind] ??= [$name, $text];
    if ($text !== $expected[$kind][1]) {
        fwrite(STDERR, "$name prints other text than {$expected[$kind][0]}\n");
        exit(1);
    }
}

$times = array_fill_keys(array_keys($contestants), []);
$order = array_keys($contestants);
for ($round = 0; $round < $rounds; $round++) {
    foreach ($order as $name) {
        $render = $contestants[$name];
        once($render);  // warm after the others ran
        for ($i = 0; $i < $renders; $i++) {
            $start = hrtime(true);
            ob_start();
            $render();
            ob_end_clean();
            $times[$name][] = (hrtime(true) - $start) / 1e6;
        }
    }
    $order[] = array_shift($order);
}
echo json_encode($times), "\n";
