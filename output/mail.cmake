# The mail route: the platform-free mail text, and on Windows the hand-off to the mail
# program with its exception guard.
target_sources(velkcore PRIVATE MailText.cpp MailElements.cpp CodePage.cpp)
if(WIN32)
    target_sources(velkapp PRIVATE MailDispatch.cpp MapiGuard.c)
endif()
