<?php
$ZOQBLOCK_row="";



foreach ($list as $a => $b) {
$ZOQBLOCK_row=$ZOQBLOCK_row."<i>".$a."".$a."".$a."</i>";


}

?>
<?php echo $ZOQBLOCK_row;?>

