<?php
$ZOQBLOCK_inner="";


$ZOQBLOCK_outer="";


foreach ($rows as $r) {
$ZOQBLOCK_inner="";

foreach ($r['cells'] as $c) {
$ZOQBLOCK_inner=$ZOQBLOCK_inner."<td>".$c."</td>";


}
$ZOQBLOCK_outer=$ZOQBLOCK_outer."<tr><td>".$r['name']."</td>
".$ZOQBLOCK_inner."
</tr>";


}

?>
<table>
<?php echo $ZOQBLOCK_outer;?>

</table>
