<?php
// The data that hello.php renders; run it as: php -d auto_prepend_file=data.php hello.php
$title = 'Hello, world';
$rows = [['name' => 'Ada'], ['name' => 'Grace'], ['name' => 'Linus']];
