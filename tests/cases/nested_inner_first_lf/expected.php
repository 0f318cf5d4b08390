<?php
$ZOQBLOCK_inner="";


$ZOQBLOCK_outer="";


foreach ($rows as $r) {
$ZOQBLOCK_inner="";

foreach ($r['cells'] as $c) {
$ZOQBLOCK_inner=$ZOQBLOCK_inner."<i>".$c."</i>";


}
$ZOQBLOCK_outer=$ZOQBLOCK_outer."<p>".$r['name'].":
".$ZOQBLOCK_inner."
".$ZOQBLOCK_inner."</p>";


}

?>
<?php echo $ZOQBLOCK_outer;?>

