# cmake -DINPUT=table.dat -DOUTPUT=table.cpp -DSYMBOL=kName -P embed_table.cmake
# Writes the bytes of INPUT as a C++ array orb::detail::SYMBOL and its size SYMBOL##Size.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR byteCount "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes to a line keeps the file readable in a diff viewer.
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n  " bytes "${bytes}")
get_filename_component(inputName "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${inputName} by embed_table.cmake at build time; do not edit.\n"
  "#include <cstddef>\n#include <cstdint>\n\n"
  "namespace orb::detail {\n\n"
  "extern const std::uint8_t ${SYMBOL}[];\n"
  "extern const std::size_t ${SYMBOL}Size;\n\n"
  "alignas(8) const std::uint8_t ${SYMBOL}[] = {\n  ${bytes}\n};\n"
  "const std::size_t ${SYMBOL}Size = ${byteCount};\n\n"
  "}  // namespace orb::detail\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
