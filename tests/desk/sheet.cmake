# The sheet reader's tests, on pages printed by VelkRun and committed beside them.
add_executable(sheet_tests ${CMAKE_CURRENT_LIST_DIR}/Sheet_test.cpp ${CMAKE_CURRENT_LIST_DIR}/TextRules_test.cpp)
target_link_libraries(sheet_tests PRIVATE velkdesklib GTest::gtest GTest::gtest_main)
target_compile_definitions(sheet_tests PRIVATE SHEET_PAGES="${CMAKE_CURRENT_LIST_DIR}/sheets")
add_test(NAME sheet_tests COMMAND sheet_tests)
