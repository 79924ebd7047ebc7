# The end-to-end form helpers: the short form on a product folder, and answers typed into it.
add_library(formtestsupport STATIC ${CMAKE_CURRENT_LIST_DIR}/form_support.cpp)
target_link_libraries(formtestsupport PUBLIC wintestsupport)
foreach(test e2e_form_test e2e_print_test e2e_mail_test e2e_badinput_mail_test)
    if(TARGET ${test})
        target_link_libraries(${test} PRIVATE formtestsupport)
    endif()
endforeach()
# The form's end-to-end tests register a mail client of their own with the mail tests' helper.
if(TARGET e2e_form_test)
    target_link_libraries(e2e_form_test PRIVATE mailtestsupport)
endif()
