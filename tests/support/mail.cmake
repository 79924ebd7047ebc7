# Programs the mail tests need: a Simple MAPI library that records what it is given, a
# variant that needs a DLL from its own folder, a library without MAPISendMail, and a
# mailto: protocol handler that records the URL.
function(velk_mail_test_dll name)
    add_library(${name} SHARED ${ARGN})
    set_target_properties(${name} PROPERTIES PREFIX "")
    # Exports without the stdcall "@n" decoration, as mail programs export MAPISendMail.
    target_link_options(${name} PRIVATE -static -Wl,--kill-at)
endfunction()

velk_mail_test_dll(mail_client ${CMAKE_CURRENT_LIST_DIR}/mail_client.c)
velk_mail_test_dll(mail_noentry ${CMAKE_CURRENT_LIST_DIR}/mail_noentry.c)

# The dependent client and its helper live in a folder of their own, away from the test
# programs, so only a search of the library's own folder finds the helper.
velk_mail_test_dll(mail_helper ${CMAKE_CURRENT_LIST_DIR}/mail_helper.c)
velk_mail_test_dll(mail_client_dep ${CMAKE_CURRENT_LIST_DIR}/mail_client.c)
target_compile_definitions(mail_client_dep PRIVATE VELKTEST_NEEDS_HELPER)
target_link_libraries(mail_client_dep PRIVATE mail_helper)
set_target_properties(mail_helper mail_client_dep PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/mailsub)

add_executable(mail_mailto_recorder WIN32 ${CMAKE_CURRENT_LIST_DIR}/mail_mailto_recorder.c)
target_link_options(mail_mailto_recorder PRIVATE -static -mwindows)

# Registry, log and clipboard helpers of the mail tests.
add_library(mailtestsupport STATIC ${CMAKE_CURRENT_LIST_DIR}/mail_support.cpp)
target_link_libraries(mailtestsupport PUBLIC wintestsupport)

foreach(test win_mail_dispatch_test e2e_mail_test)
    if(TARGET ${test})
        target_link_libraries(${test} PRIVATE mailtestsupport)
        add_dependencies(${test} mail_client mail_noentry mail_client_dep mail_mailto_recorder)
    endif()
endforeach()
