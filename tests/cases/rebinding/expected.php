<?php


echo '{a}';
$ZOQBLOCK_r="";



$ZOQBLOCK_r=$ZOQBLOCK_r."".$new."";



?>
<?php echo 2;?><?php echo 2;?>
<?php echo $ZOQBLOCK_r;?>

