# Writes a C++ source defining `std::span<const uint8_t> FUNCTION()` (in namespace kf) that
# returns the bytes of INPUT.
# Usage: cmake -DINPUT=file -DOUTPUT=file.cpp -DFUNCTION=name -DHEADER=path -P embed-file.cmake
include(${CMAKE_CURRENT_LIST_DIR}/byte-literal.cmake)
kf_byte_literal("${INPUT}" _bytes)
kf_write_if_different("${OUTPUT}"
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
