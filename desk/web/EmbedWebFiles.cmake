# Build step: writes the station's templates and static files into a C++ source as byte
# arrays, so velkdesk serves them from itself and needs no files beside it.
#   cmake -DDIR=<desk/web> -DOUT=... -P EmbedWebFiles.cmake
file(GLOB_RECURSE files RELATIVE "${DIR}" "${DIR}/templates/*.mustache" "${DIR}/static/*")
list(SORT files)
file(WRITE "${OUT}.tmp" "// Generated from desk/web/templates and desk/web/static by EmbedWebFiles.cmake.\n"
                        "#include \"desk/web/Resources.h\"\nnamespace desk::web {\nnamespace {\n")
set(index 0)
set(table "")
foreach(name IN LISTS files)
    file(READ "${DIR}/${name}" hex HEX)
    string(LENGTH "${hex}" length)
    math(EXPR size "${length} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
    file(APPEND "${OUT}.tmp" "const char kFile${index}[] = {${bytes} 0};\n")
    string(APPEND table "    {\"${name}\", kFile${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
endforeach()
file(APPEND "${OUT}.tmp" "}  // namespace\nconst EmbeddedFile kEmbeddedFiles[] = {\n${table}};\n"
                         "const unsigned long kEmbeddedFileCount = ${index};\n}  // namespace desk::web\n")
file(RENAME "${OUT}.tmp" "${OUT}")
