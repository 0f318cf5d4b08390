<?php
$ZOQBLOCK_r="";


$ZOQBLOCK_r=$ZOQBLOCK_r."[".$x."]";



?>
<?php echo $ZOQBLOCK_r;?>

