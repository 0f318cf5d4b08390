<?php
$ZOQBLOCK_item="";


foreach ($rows as $row) {
$ZOQBLOCK_item=$ZOQBLOCK_item."
<li>".$row['title']."</li>
";


}

?>
<ul>
<?php echo $ZOQBLOCK_item;?>

</ul>
