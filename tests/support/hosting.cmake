# The hosting test prints and mails, and plants copies of the test mail client.
if(TARGET e2e_hosting_test)
    target_link_libraries(e2e_hosting_test PRIVATE mailtestsupport printtestsupport)
    add_dependencies(e2e_hosting_test mail_client mail_mailto_recorder)
endif()
if(TARGET win_dllsearch_test)
    add_dependencies(win_dllsearch_test mail_client)
endif()
