<?php
$ZOQBLOCK_="";

$ZOQBLOCK_row="";

$ZOQBLOCK_=$ZOQBLOCK_."a";


$ZOQBLOCK_row=$ZOQBLOCK_row."b";



?>
<?php echo $ZOQBLOCK_;?>

<?php echo $ZOQBLOCK_row;?>

