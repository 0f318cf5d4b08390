<?php
$ZOQBLOCK_gone="";


$ZOQBLOCK_none="";

foreach ($vs as $v) {
$ZOQBLOCK_gone=$ZOQBLOCK_gone."";


$ZOQBLOCK_none=$ZOQBLOCK_none."";


}

?>
<p>{v}</p>
<!--begin gone-->x<!--end gone-->
