# The print tests' helpers.
add_library(printtestsupport STATIC ${CMAKE_CURRENT_LIST_DIR}/print_support.cpp)
target_link_libraries(printtestsupport PUBLIC wintestsupport winspool advapi32)
foreach(test win_print_test e2e_print_test)
    if(TARGET ${test})
        target_link_libraries(${test} PRIVATE printtestsupport)
    endif()
endforeach()
