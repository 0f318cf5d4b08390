<?php

$ZOQBLOCK_b="";


$ZOQBLOCK_b=$ZOQBLOCK_b."È".$x."";



?>
<p>Gr√º√üe <?php echo $n;?> {na√Øve} <?php echo $n;?></p>
<?php echo $ZOQBLOCK_b;?>

<!--BEGIN b-->…{x}<!--END b-->
