<?php

$ZOQBLOCK_row="";


foreach ($rows as $r) {
$ZOQBLOCK_row=$ZOQBLOCK_row."<li>".$r['name']."</li>";


}

?>
<h1><?php echo $title;?></h1>
<ul>
<?php echo $ZOQBLOCK_row;?>

</ul>
