<?php
$ZOQBLOCK_Item="";


$ZOQBLOCK_Item=$ZOQBLOCK_Item."A".$x."";


$ZOQBLOCK_Item="";

$ZOQBLOCK_Item=$ZOQBLOCK_Item."A".$x."";



?>
<?php echo $ZOQBLOCK_Item;?>

<?php echo $ZOQBLOCK_item;?>

