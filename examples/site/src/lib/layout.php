<?php
// The layout every page shares: the document's head with the stylesheet, the site's header
// with the logo and the menu, and the footer. A page's script includes this file and binds
// {!head} and {!foot} to these functions; the "!" prints their HTML as it is.
function layout_head(string $title): string
{
    $title = htmlspecialchars($title);
    return <<<HTML
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>$title</title>
<link rel="stylesheet" href="/style.css">
</head>
<body>
<header class="site">
<img src="/logo.svg" alt="" width="32" height="32">
<nav><a href="/index.php">Home</a> <a href="/hello.php">Say hello</a></nav>
</header>
<main>
HTML;
}

function layout_foot(): string
{
    return "</main>\n<footer class=\"site\">Made with zoqc</footer>\n</body>\n</html>\n";
}
