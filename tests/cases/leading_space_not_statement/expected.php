<html>
 <<a<<1
<?php

echo 1;

?>
{a}<?php echo 2;?>
