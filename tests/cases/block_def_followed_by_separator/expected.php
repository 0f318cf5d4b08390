<?php
$ZOQBLOCK_tbl="";

/*
<<*list<<x
x
*/

$ZOQBLOCK_tbl=$ZOQBLOCK_tbl."".$v."";



?>
<?php echo $ZOQBLOCK_tbl;?>

<!--BEGIN list-->L<!--END list-->
