# Writes a C++ source defining `std::span<const uint8_t> FUNCTION()` (in namespace kf) that
# returns the bytes of INPUT.
# Usage: cmake -DINPUT=file -DOUTPUT=file.cpp -DFUNCTION=name -DHEADER=path -P embed-file.cmake
file(READ "${INPUT}" _hex HEX)
string(LENGTH "${_hex}" _length)
if(_length EQUAL 0)
  message(FATAL_ERROR "embed-file: ${INPUT} is empty")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
# Sixteen bytes a line keeps the file readable and the compiler's lines short.
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " _bytes "${_bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} when the module is built; do not edit.
#include \"${HEADER}\"

namespace kf {
namespace {
alignas(4) const uint8_t kBytes[] = {
    ${_bytes}
};
}  // namespace

std::span<const uint8_t> ${FUNCTION}() {
    return kBytes;
}

}  // namespace kf
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
