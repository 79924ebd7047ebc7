# The registration form's in-process tests run the form from the program's own resources,
# so the test program carries VelkRun's.

