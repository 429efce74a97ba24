# Writes one C++ source holding the PNG files FIRST.png .. LAST.png of DIR as byte arrays, with
# kf::artwork::embeddedPng(index) returning them in id order.
# Usage: cmake -DDIR=folder -DFIRST=1000 -DLAST=1048 -DOUTPUT=file.cpp -P embed-artwork.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/byte-literal.cmake)
set(_arrays "")
set(_table "")
foreach(_id RANGE ${FIRST} ${LAST})
  kf_byte_literal("${DIR}/${_id}.png" _bytes)
  string(APPEND _arrays "const unsigned char k${_id}[] = {\n    ${_bytes}\n};\n")
  string(APPEND _table "    k${_id},\n")
endforeach()
kf_write_if_different("${OUTPUT}"
"// Generated from ${DIR} when the module is built; do not edit.
#include \"artwork/embedded.h\"

namespace kf::artwork {
namespace {
${_arrays}
const std::span<const unsigned char> kFiles[] = {
${_table}};
}  // namespace

std::span<const unsigned char> embeddedPng(int index) {
    return kFiles[index];
}

}  // namespace kf::artwork
")
