# The form's end-to-end tests register a mail client of their own with the mail tests' helper.
if(TARGET e2e_form_test)
    target_link_libraries(e2e_form_test PRIVATE mailtestsupport)
endif()
