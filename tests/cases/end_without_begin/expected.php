<?php
$ZOQBLOCK_b="";


$ZOQBLOCK_b=$ZOQBLOCK_b."";



?>
<p>
{x}<!--END b-->
</p>
