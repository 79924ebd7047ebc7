# Build step: writes the resource script and its header into a C++ source as byte arrays, so
# the sheet reader carries the very texts VelkRun is built from.
#   cmake -DRC=... -DHEADER=... -DOUT=... -P EmbedResources.cmake
function(embed name file out)
    file(READ "${file}" hex HEX)
    string(LENGTH "${hex}" length)
    math(EXPR size "${length} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
    file(APPEND "${out}" "extern const char ${name}[] = {${bytes} 0};\nextern const unsigned long ${name}Size = ${size};\n")
endfunction()
file(WRITE "${OUT}.tmp" "// Generated from res/VelkRun.rc and res/resource.h by EmbedResources.cmake.\nnamespace sheet {\n")
embed(kVelkRunRc "${RC}" "${OUT}.tmp")
embed(kResourceH "${HEADER}" "${OUT}.tmp")
file(APPEND "${OUT}.tmp" "}  // namespace sheet\n")
file(RENAME "${OUT}.tmp" "${OUT}")
