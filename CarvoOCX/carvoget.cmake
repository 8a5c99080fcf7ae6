# carvo-get.
