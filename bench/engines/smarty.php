<?php
// php smarty.php compile|render DIR: compiles DIR/page.tpl into DIR/smarty-compiled, or
// renders it with DIR/data.php.
require '/usr/share/php/smarty4/bootstrap.php';
[, $mode, $dir] = $argv;
$smarty = new Smarty();
$smarty->setTemplateDir($dir);
$smarty->setCompileDir("$dir/smarty-compiled");
$smarty->setCacheDir("$dir/smarty-cache");
if ($mode === 'compile') {
    $smarty->createTemplate('page.tpl')->compileTemplateSource();
} else {
    require "$dir/data.php";
    $smarty->assign($v);
    $smarty->assign('rows', $rows);
    echo $smarty->fetch('page.tpl');
}
