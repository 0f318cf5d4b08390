old page
