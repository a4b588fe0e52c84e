# Writes a C++ source holding every file the resource script lists, and the script itself, as
# byte arrays. Run as: cmake -DRC=<korvanex.rc> -DOUT=<file.cpp> -P embed_resources.cmake
get_filename_component(dir "${RC}" DIRECTORY)
file(STRINGS "${RC}" lines REGEX "^[0-9]+[ \t]+[A-Z]+[ \t]+\"[^\"]+\"")

set(arrays "")
set(table "")
set(index 0)

function(embed_one path type id)
  file(READ "${path}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    " bytes "${bytes}")
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  set(arrays "${arrays}// ${type} ${id}: ${path}\nconst unsigned char kData${index}[] = {\n    ${bytes}0x00};\n\n" PARENT_SCOPE)
  set(table "${table}    {\"${type}\", ${id}, {kData${index}, ${size}}},\n" PARENT_SCOPE)
endfunction()

embed_one("${RC}" "RC" 0)
math(EXPR index "${index} + 1")
foreach(line IN LISTS lines)
  string(REGEX MATCH "^([0-9]+)[ \t]+([A-Z]+)[ \t]+\"([^\"]+)\"" _ "${line}")
  embed_one("${dir}/${CMAKE_MATCH_3}" "${CMAKE_MATCH_2}" "${CMAKE_MATCH_1}")
  math(EXPR index "${index} + 1")
endforeach()

file(WRITE "${OUT}.tmp" "// Generated from ${RC} by embed_resources.cmake; do not edit.
#include \"embedded_resources.h\"

namespace kx::component {
namespace {

${arrays}const EmbeddedResource kResources[] = {
${table}};

}  // namespace

std::span<const EmbeddedResource> EmbeddedResources() noexcept { return kResources; }

}  // namespace kx::component
")
# Touch the output only when it changed, so an unchanged resource set rebuilds nothing.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUT}.tmp" "${OUT}")
file(REMOVE "${OUT}.tmp")
