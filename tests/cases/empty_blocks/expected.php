<?php
$ZOQBLOCK_e=""; // nothing


$ZOQBLOCK_e=$ZOQBLOCK_e."";


$ZOQBLOCK_f="";

$ZOQBLOCK_f=$ZOQBLOCK_f."";



?>
<p><?php echo $ZOQBLOCK_e;?>
</p>
<?php echo $ZOQBLOCK_f;?>

