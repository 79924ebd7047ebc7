# The registration form's in-process tests run the form from the program's own resources,
# so the test program carries VelkRun's.
if(TARGET win_form_test)
    target_sources(win_form_test PRIVATE ${CMAKE_SOURCE_DIR}/res/VelkRun.rc)
    target_link_libraries(win_form_test PRIVATE comctl32)
endif()

# A test program that crashes under Wine can still end with exit code 0: pass only when
# GoogleTest itself reported success.
foreach(test win_form_test e2e_form_test)
    if(TEST ${test})
        set_tests_properties(${test} PROPERTIES PASS_REGULAR_EXPRESSION "\\[  PASSED  \\]"
                                                FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
    endif()
endforeach()

# The end-to-end tests register a mail client of their own with the mail tests' helper.
if(TARGET e2e_form_test)
    target_link_libraries(e2e_form_test PRIVATE mailtestsupport)
endif()
