# The reply-sheet generator's printing half: records printed by VelkRun's own print route.
add_executable(sheet_print ${CMAKE_CURRENT_LIST_DIR}/sheet_print.cpp ${CMAKE_SOURCE_DIR}/res/VelkRun.rc)
target_link_libraries(sheet_print PRIVATE velkapp printtestsupport comctl32 comdlg32)
target_link_options(sheet_print PRIVATE -static)
