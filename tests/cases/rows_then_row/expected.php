<?php
$ZOQBLOCK_rows="";


$ZOQBLOCK_row="";


foreach ($list as $a => $b) {
$ZOQBLOCK_rows=$ZOQBLOCK_rows."(".$b.")";


$ZOQBLOCK_row=$ZOQBLOCK_row."[".$a."]";


}

?>
<?php echo $ZOQBLOCK_row;?>

<?php echo $ZOQBLOCK_rows;?>

