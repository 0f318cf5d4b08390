<?php
$ZOQBLOCK_r="";


$ZOQBLOCK_r=$ZOQBLOCK_r."".$x.";";



?>
<?php echo $ZOQBLOCK_r;?>

<hr>
<?php echo $ZOQBLOCK_r;?>

<!--BEGIN r-->other<!--END r-->
