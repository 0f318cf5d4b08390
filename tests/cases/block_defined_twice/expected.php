<?php
$ZOQBLOCK_r="";


foreach ($a as $x) {
$ZOQBLOCK_r=$ZOQBLOCK_r."<li>".$y."</li>";


}
$ZOQBLOCK_r="";


foreach ($b as $y) {
$ZOQBLOCK_r=$ZOQBLOCK_r."<li>".$y."</li>";


}

?>
<ul><?php echo $ZOQBLOCK_r;?>
</ul>
