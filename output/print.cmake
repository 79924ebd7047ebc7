# The printed reply sheet: its layout is platform-free (tested natively), the GDI surface and
# the print job are Windows code.
target_sources(velkcore PRIVATE ${CMAKE_CURRENT_LIST_DIR}/PageLayout.cpp)
if(WIN32)
    target_sources(velkapp PRIVATE ${CMAKE_CURRENT_LIST_DIR}/PrintForm.cpp ${CMAKE_CURRENT_LIST_DIR}/GdiSurface.cpp)
endif()
