# Writes one C++ source holding the PNG files FIRST.png .. LAST.png of DIR as byte arrays, with
# kf::artwork::embeddedPng(index) returning them in id order.
# Usage: cmake -DDIR=folder -DFIRST=1000 -DLAST=1048 -DOUTPUT=file.cpp -P embed-artwork.cmake
set(_arrays "")
set(_table "")
foreach(_id RANGE ${FIRST} ${LAST})
  file(READ "${DIR}/${_id}.png" _hex HEX)
  string(LENGTH "${_hex}" _length)
  if(_length EQUAL 0)
    message(FATAL_ERROR "embed-artwork: ${DIR}/${_id}.png is empty")
  endif()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  # Sixteen bytes a line keeps the compiler's lines short.
  string(REGEX REPLACE "((0x..,){16})" "\\1\n    " _bytes "${_bytes}")
  string(APPEND _arrays "const unsigned char k${_id}[] = {\n    ${_bytes}\n};\n")
  string(APPEND _table "    k${_id},\n")
endforeach()
file(WRITE "${OUTPUT}.tmp"
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
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
