<?php
$ZOQBLOCK_row="";


foreach ($vs as $v) {
$ZOQBLOCK_row=$ZOQBLOCK_row."<code><<+row ".$v." <<*row</code>";


}

?>
<?php echo $ZOQBLOCK_row;?>

