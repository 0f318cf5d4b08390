<?php
$ZOQBLOCK_row="";



foreach ($products as $p) {
$ZOQBLOCK_row=$ZOQBLOCK_row."<tr class=\"odd\"><td><a href=\"".$p["url"]."\">C:\\dir\\</a></td><td>\$".$p['price']." \$total \\n {\$x}</td></tr>";


}

?>
<table class="list">
<?php echo $ZOQBLOCK_row;?>

</table>
