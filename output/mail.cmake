if(WIN32)
    target_sources(velkapp PRIVATE MailDispatch.cpp)
endif()
