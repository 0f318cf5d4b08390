<?php
echo 1;

?>
<?php echo $t;?>
