# Lays out the Windows download and zips it (run by the windows-zip target):
#   Kestrafone/Kestrafone.dll and kestrafone-render.exe (without their symbol tables), Manual/, Presets/ (the factory
#   presets, and User/ for the user's), Samples/Factory/, LICENSE, README.txt.
# Expects DLL, TOOL (the render tool), VERSION, SOURCE (the source tree), STAGE (a scratch folder), ZIP (the zip to
# write) and STRIP (the MinGW strip program).
file(REMOVE_RECURSE "${STAGE}")
set(_dir "${STAGE}/Kestrafone")
file(MAKE_DIRECTORY "${_dir}/Manual" "${_dir}/Presets/User" "${_dir}/Samples/Factory")
foreach(_pair IN ITEMS "${DLL}|Kestrafone.dll" "${TOOL}|kestrafone-render.exe")
  string(REPLACE "|" ";" _pair "${_pair}")
  list(GET _pair 0 _from)
  list(GET _pair 1 _to)
  execute_process(COMMAND ${STRIP} --strip-unneeded -o "${_dir}/${_to}" "${_from}" RESULT_VARIABLE _failed)
  if(_failed)
    message(FATAL_ERROR "could not strip ${_from}")
  endif()
endforeach()
file(GLOB _manual "${SOURCE}/resources/manual/*")
file(GLOB _presets "${SOURCE}/resources/presets/*.kfn")
file(COPY ${_manual} DESTINATION "${_dir}/Manual")
file(COPY ${_presets} DESTINATION "${_dir}/Presets")
file(COPY "${SOURCE}/LICENSE" DESTINATION "${_dir}")
# With its version, and Windows line ends for the plainest of editors.
file(READ "${SOURCE}/resources/windows/README.txt" _readme)
string(REPLACE "@VERSION@" "${VERSION}" _readme "${_readme}")
string(REPLACE "\n" "\r\n" _readme "${_readme}")
file(WRITE "${_dir}/README.txt" "${_readme}")
get_filename_component(_zip_dir "${ZIP}" DIRECTORY)
file(MAKE_DIRECTORY "${_zip_dir}")
file(REMOVE "${ZIP}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${ZIP}" --format=zip Kestrafone
                WORKING_DIRECTORY "${STAGE}" RESULT_VARIABLE _failed)
if(_failed)
  message(FATAL_ERROR "could not write ${ZIP}")
endif()
