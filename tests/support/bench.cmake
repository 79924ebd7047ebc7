# The benchmark programs need the Windows-side test helpers, so they are defined with the
# tests; they are built only on request (bench/run.sh names its targets), not by every test run.
add_subdirectory(${PROJECT_SOURCE_DIR}/bench ${CMAKE_BINARY_DIR}/bench EXCLUDE_FROM_ALL)
