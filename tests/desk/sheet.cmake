# The sheet reader's tests, on pages printed by VelkRun and committed beside them.
add_executable(sheet_tests ${CMAKE_CURRENT_LIST_DIR}/Sheet_test.cpp ${CMAKE_CURRENT_LIST_DIR}/TextRules_test.cpp)
target_link_libraries(sheet_tests PRIVATE velkdesklib GTest::gtest GTest::gtest_main)
# velkdesk itself imports hostile pages in a process of its own, its peak memory measured by
# peak_memory.
add_executable(peak_memory ${CMAKE_CURRENT_LIST_DIR}/peak_memory.c)
add_dependencies(sheet_tests velkdesk peak_memory)
target_compile_definitions(sheet_tests PRIVATE SHEET_PAGES="${CMAKE_CURRENT_LIST_DIR}/sheets"
    VELKDESK_PATH="$<TARGET_FILE:velkdesk>" PEAK_MEMORY_PATH="$<TARGET_FILE:peak_memory>")
# The longest native tests, in two halves that run side by side and start first, so that the
# browser tests' waiting overlaps them.
foreach(shard 0 1)
    add_test(NAME sheet_tests_${shard}
             COMMAND /bin/sh ${CMAKE_CURRENT_LIST_DIR}/run_shard.sh ${shard} $<TARGET_FILE:sheet_tests>)
    set_tests_properties(sheet_tests_${shard} PROPERTIES COST 1000 ENVIRONMENT "GTEST_TOTAL_SHARDS=2")
endforeach()
