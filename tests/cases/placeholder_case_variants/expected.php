<?php




?>
<?php echo $b;?> <?php echo $b;?> <?php echo $b;?> <?php echo $b;?>
<?php echo $t;?><?php echo $t;?>
{ title } {nobody} {}
