# velkdesk serve: the review station over libmicrohttpd, with kainjow mustache templates,
# nlohmann json, its templates and static files built in.
pkg_check_modules(MHD REQUIRED IMPORTED_TARGET libmicrohttpd)
find_package(nlohmann_json 3 REQUIRED)

set(web_embedded ${CMAKE_CURRENT_BINARY_DIR}/WebResources.cpp)
file(GLOB web_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/templates/*.mustache ${CMAKE_CURRENT_LIST_DIR}/static/*)
add_custom_command(
    OUTPUT ${web_embedded}
    COMMAND ${CMAKE_COMMAND} -DDIR=${CMAKE_CURRENT_LIST_DIR} -DOUT=${web_embedded}
            -P ${CMAKE_CURRENT_LIST_DIR}/EmbedWebFiles.cmake
    DEPENDS ${web_files} ${CMAKE_CURRENT_LIST_DIR}/EmbedWebFiles.cmake
    COMMENT "Embedding the review station's templates and static files")

add_library(velkweb STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Auth.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DoubtWords.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Http.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Server.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Pages.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PageCut.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Station.cpp
    ${CMAKE_CURRENT_LIST_DIR}/OnlineForm.cpp
    ${PROJECT_SOURCE_DIR}/desk/FieldLabels.cpp
    ${web_embedded})
target_link_libraries(velkweb PUBLIC velkdesklib PkgConfig::MHD nlohmann_json::nlohmann_json)
