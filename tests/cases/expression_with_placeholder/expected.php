<?php


$ZOQBLOCK_r="";



$ZOQBLOCK_r=$ZOQBLOCK_r."".'{y}'."|".$y."";



?>
<?php echo '{b}';?>|<?php echo $b;?>
<?php echo $ZOQBLOCK_r;?>

