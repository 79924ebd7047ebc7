# The registration tour drives every route, so it uses the mail and print helpers, and the
# demo settings file the demo shows.
if(TARGET e2e_tour_test)
    target_link_libraries(e2e_tour_test PRIVATE mailtestsupport printtestsupport)
    target_compile_definitions(e2e_tour_test PRIVATE VELK_DEMO_INI="${CMAKE_SOURCE_DIR}/scripts/demo/VelkRun.ini")
    add_dependencies(e2e_tour_test mail_client)
endif()
