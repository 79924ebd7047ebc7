# The registration form's in-process tests run the form from the program's own resources,
# so the test program carries VelkRun's.
if(TARGET win_form_test)
    target_sources(win_form_test PRIVATE ${CMAKE_SOURCE_DIR}/res/VelkRun.rc)
    target_link_libraries(win_form_test PRIVATE comctl32)
endif()
