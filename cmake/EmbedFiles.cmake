# cmake -DOUTPUT=file.cc -DDIR=folder -P EmbedFiles.cmake
# Writes a C++ source that holds the bytes of the folder's .dll files, found by
# file name through sr_test::EmbeddedFile(name).
file(GLOB FILES ${DIR}/*.dll)
set(body "")
set(table "")
set(index 0)
foreach(path IN LISTS FILES)
  get_filename_component(name ${path} NAME)
  file(READ ${path} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND body "const unsigned char kFile${index}[] = {${bytes}0};\n")
  string(APPEND table "    {\"${name}\", kFile${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.new "// Generated from the test fixtures; do not edit.
#include <cstring>
#include <string_view>

namespace sr_test {
namespace {
${body}
const struct {
  const char* name;
  const unsigned char* data;
  unsigned long size;
} kFiles[] = {
${table}};
}  // namespace

std::string_view EmbeddedFile(const char* name) {
  for (const auto& f : kFiles) {
    if (std::strcmp(f.name, name) == 0) return {reinterpret_cast<const char*>(f.data), f.size};
  }
  return {};
}

}  // namespace sr_test
")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
