# Shared by the scripts that embed files in the module.

# Sets OUT to the bytes of FILE as a C++ initialiser list ("0x12,0x34,..."), sixteen bytes a
# line, which keeps the generated file readable and the compiler's lines short. An empty file
# is an error: every embedded resource has content.
function(kf_byte_literal file out)
  file(READ "${file}" _hex HEX)
  string(LENGTH "${_hex}" _length)
  if(_length EQUAL 0)
    message(FATAL_ERROR "${file} is empty")
  endif()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n    " _bytes "${_bytes}")
  set(${out} "${_bytes}" PARENT_SCOPE)
endfunction()

# Writes TEXT to PATH only when it differs, so an unchanged resource rebuilds nothing.
function(kf_write_if_different path text)
  file(WRITE "${path}.tmp" "${text}")
  file(COPY_FILE "${path}.tmp" "${path}" ONLY_IF_DIFFERENT)
  file(REMOVE "${path}.tmp")
endfunction()
