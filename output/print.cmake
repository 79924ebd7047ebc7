if(WIN32)
    target_sources(velkapp PRIVATE PrintForm.cpp)
endif()
