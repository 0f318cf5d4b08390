<?php
echo '<<x';
$a = $b << 2;

?>
<p>plain</p>
{ not } { } }{
