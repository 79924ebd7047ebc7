# The print tests: their helpers, and VelkRun's resources (strings and logo) in the test
# program that prints the sheet itself.
add_library(printtestsupport STATIC ${CMAKE_CURRENT_LIST_DIR}/print_support.cpp)
target_link_libraries(printtestsupport PUBLIC wintestsupport winspool advapi32)
foreach(test win_print_test e2e_print_test)
    if(TARGET ${test})
        target_link_libraries(${test} PRIVATE printtestsupport)
    endif()
endforeach()
if(TARGET win_print_test)
    target_sources(win_print_test PRIVATE ${CMAKE_SOURCE_DIR}/res/VelkRun.rc)
endif()
