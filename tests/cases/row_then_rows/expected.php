<?php
$ZOQBLOCK_row="";


$ZOQBLOCK_rows="";


foreach ($list as $a => $b) {
$ZOQBLOCK_row=$ZOQBLOCK_row."[".$a."]";


$ZOQBLOCK_rows=$ZOQBLOCK_rows."(".$b.")";


}

?>
<?php echo $ZOQBLOCK_row;?>

<?php echo $ZOQBLOCK_rows;?>

