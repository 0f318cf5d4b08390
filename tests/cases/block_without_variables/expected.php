<?php

$ZOQBLOCK_sep="";

for ($i = 0; $i < 3; $i++) {
$ZOQBLOCK_sep=$ZOQBLOCK_sep."<hr class=\"thin\" title=\"{title}\">";
 // one rule

}

?>
<h1><?php echo $title;?></h1>
<?php echo $ZOQBLOCK_sep;?>

