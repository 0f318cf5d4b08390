<?php
<<+nope


?>
x
