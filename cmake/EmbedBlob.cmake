# cmake -DIN=blob -DOUT=file.cpp -P EmbedBlob.cmake
# Writes the bytes of IN as the language table blob array of the program.
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUT}.tmp"
"// Generated from the language table sources at build time. Do not edit.\n"
"#include <cstddef>\n\n"
"namespace nulvane::lang {\n"
"extern const unsigned char kLanguageTableBlob[] = {\n    ${bytes}\n};\n"
"extern const std::size_t kLanguageTableBlobSize = ${size};\n"
"}  // namespace nulvane::lang\n")
file(RENAME "${OUT}.tmp" "${OUT}")
