<?php echo 'page from an earlier run';
?>
<p>old</p>
