# Writes OUT, a C++ source holding every file of DIR as bytes: rsim::embedded_files(), a table of
# {file name, text}. Run at build time, so that a changed page template rebuilds the tool.
file(GLOB files RELATIVE ${DIR} ${DIR}/*)
list(SORT files)
set(body "")
set(table "")
set(i 0)
foreach(name IN LISTS files)
  file(READ ${DIR}/${name} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND body "const char file${i}[] = {${bytes}'\\0'};\n")
  string(APPEND table "    {\"${name}\", std::string_view(file${i}, ${size})},\n")
  math(EXPR i "${i} + 1")
endforeach()
file(WRITE ${OUT}.tmp
     "// Generated from ${DIR} by cmake/EmbedFiles.cmake: do not edit.\n"
     "#include <span>\n#include <string_view>\n#include <utility>\n\nnamespace {\n${body}}  // namespace\n\n"
     "namespace rsim {\nstd::span<const std::pair<std::string_view, std::string_view>> embedded_files() {\n"
     "  static const std::pair<std::string_view, std::string_view> files[] = {\n${table}  };\n"
     "  return files;\n}\n}  // namespace rsim\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
