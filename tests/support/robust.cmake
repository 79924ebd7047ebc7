# The bad-input and leak tests: the bad-input tests' own helpers, plus the mail tests' client,
# mailto: recorder and clipboard helpers and the print tests' PDF helpers, which they reuse.
add_library(robusttestsupport STATIC ${CMAKE_CURRENT_LIST_DIR}/robust_support.cpp)
target_link_libraries(robusttestsupport PUBLIC wintestsupport)

file(GLOB robust_e2e_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/../e2e/badinput_*_test.cpp)
foreach(src ${robust_e2e_sources})
    get_filename_component(name ${src} NAME_WE)
    if(TARGET e2e_${name})
        target_link_libraries(e2e_${name} PRIVATE robusttestsupport mailtestsupport)
        add_dependencies(e2e_${name} mail_client mail_mailto_recorder)
    endif()
endforeach()

if(TARGET win_leak_test)
    target_link_libraries(win_leak_test PRIVATE mailtestsupport printtestsupport)
    add_dependencies(win_leak_test mail_client mail_mailto_recorder)
    # Fifty print jobs and fifty mails take about four minutes under Wine here.
    set_tests_properties(win_leak_test PROPERTIES TIMEOUT 900)
endif()
