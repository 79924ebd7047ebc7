# The benchmark programs need the Windows-side test helpers, so they are built with the tests.
add_subdirectory(${PROJECT_SOURCE_DIR}/bench ${CMAKE_BINARY_DIR}/bench)
