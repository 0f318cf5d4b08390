<?php


$ZOQBLOCK_row="";


$ZOQBLOCK_row=$ZOQBLOCK_row."".$n."";


echo 1;
?>

?>
<?php echo 1;?><?php echo 2;?>
<?php echo $ZOQBLOCK_row;?>

