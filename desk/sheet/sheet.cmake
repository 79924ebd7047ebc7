# The reader of faxed and scanned reply sheets: Leptonica, poppler, Tesseract and FreeType (and
# libtiff for the stored pages),
# and VelkRun's own page layout and texts.
find_package(PkgConfig REQUIRED)
pkg_check_modules(SHEETLIBS REQUIRED IMPORTED_TARGET tesseract lept poppler-cpp freetype2 libtiff-4)

set(sheet_embedded ${CMAKE_CURRENT_BINARY_DIR}/SheetResources.cpp)
add_custom_command(
    OUTPUT ${sheet_embedded}
    COMMAND ${CMAKE_COMMAND} -DRC=${PROJECT_SOURCE_DIR}/res/VelkRun.rc -DHEADER=${PROJECT_SOURCE_DIR}/res/resource.h
            -DOUT=${sheet_embedded} -P ${CMAKE_CURRENT_LIST_DIR}/EmbedResources.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/res/VelkRun.rc ${PROJECT_SOURCE_DIR}/res/resource.h
            ${CMAKE_CURRENT_LIST_DIR}/EmbedResources.cmake
    COMMENT "Embedding VelkRun's texts for the sheet reader")

# Page files read into one-bit pages: all that outside input reaches before the reader, and all
# that its fuzz target needs.
add_library(velkpages STATIC ${CMAKE_CURRENT_LIST_DIR}/PageImage.cpp)
target_link_libraries(velkpages PUBLIC PkgConfig::SHEETLIBS)
target_include_directories(velkpages PUBLIC ${PROJECT_SOURCE_DIR})

add_library(velksheet STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ResourceText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SheetLayout.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StoredPageImage.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TextRules.cpp
    # The reader's stages, in the order CSheetReader::Read runs them (ReaderStages.h).
    ${CMAKE_CURRENT_LIST_DIR}/SheetReader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Normalise.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Placement.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Clean.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Recognise.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AnswerBoxes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FirstReading.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FixedSetMatch.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TextMend.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReviewDecision.cpp
    # The ink matcher the text mend and the fixed-set match compare drawings with.
    ${CMAKE_CURRENT_LIST_DIR}/GlyphCache.cpp
    ${CMAKE_CURRENT_LIST_DIR}/InkCompare.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StrokeShape.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Speller.cpp
    ${sheet_embedded})
target_link_libraries(velksheet PUBLIC velkpages velkdeskcore PkgConfig::SHEETLIBS gomp)
# Under the sanitizers the reader's pixel loops run several times faster at -O1 than at -O0;
# elsewhere -O1 would double the sanitizer build's compile time for nothing.
if(VELK_SANITIZE AND NOT WIN32)
    target_compile_options(velksheet PRIVATE $<$<CONFIG:Debug>:-O1>)
endif()
# The page importer belongs to velkdesk's import.
target_sources(velkdesklib PRIVATE ${CMAKE_CURRENT_LIST_DIR}/SheetIntake.cpp)

# Accuracy benchmark over a generated set of sheets (bench/sheets/make_sheets.sh).
add_executable(sheet_bench ${PROJECT_SOURCE_DIR}/bench/sheets/sheet_bench.cpp)
target_link_libraries(sheet_bench PRIVATE velksheet)
