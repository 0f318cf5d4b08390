<<title<<"x"
<?php

echo 1;

?>
{title}<?php echo $t;?>
