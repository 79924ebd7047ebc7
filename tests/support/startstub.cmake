# The start stub's end-to-end test runs the startstub.exe of this build; its stand-in start
# program is the product stand-in, copied to velkstart\VelkStart.exe by the test.
add_dependencies(e2e_startstub_test startstub)
