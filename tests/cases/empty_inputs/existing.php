<?php echo 'page from an earlier run';
?>
<p>old</p>
<?php echo 'page from an earlier run';
?>
<p>old</p>
<?php echo 'page from an earlier run';
?>
<p>old</p>
