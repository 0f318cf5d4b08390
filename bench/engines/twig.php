<?php
// php twig.php compile|render DIR: compiles DIR/page.twig into DIR/twig-cache (which must
// not hold it yet), or renders it with DIR/data.php.
require '/usr/share/php/Twig/autoload.php';
[, $mode, $dir] = $argv;
$twig = new \Twig\Environment(new \Twig\Loader\FilesystemLoader($dir),
    ['cache' => "$dir/twig-cache", 'autoescape' => false]);
if ($mode === 'compile') {
    $twig->load('page.twig');
} else {
    require "$dir/data.php";
    echo $twig->render('page.twig', $v + ['rows' => $rows]);
}
