# Lays out the plug-in bundle (run by `cmake --install`). The bundle folder is chosen when
# installing, not when configuring: $KF_BUNDLE_DIR when set (make install gives
# ~/.vst/Kestrafone for a per-user install), else lib/lxvst/Kestrafone under the install
# prefix, a folder hosts scan by default. Expects KF_MODULE (the built module) and KF_RESOURCES (the
# resources folder).
if(NOT "$ENV{KF_BUNDLE_DIR}" STREQUAL "")
  set(_bundle "$ENV{KF_BUNDLE_DIR}")
else()
  set(_bundle "${CMAKE_INSTALL_PREFIX}/lib/lxvst/Kestrafone")
endif()
file(INSTALL DESTINATION "${_bundle}" TYPE MODULE FILES "${KF_MODULE}")
# Installed without its symbol table (the build keeps it for debugging).
if(CMAKE_INSTALL_DO_STRIP)
  get_filename_component(_name "${KF_MODULE}" NAME)
  execute_process(COMMAND strip --strip-unneeded "$ENV{DESTDIR}${_bundle}/${_name}" RESULT_VARIABLE _failed)
  if(_failed)
    message(FATAL_ERROR "could not strip ${_bundle}/${_name}")
  endif()
endif()
file(GLOB _manual "${KF_RESOURCES}/manual/*")
file(GLOB _presets "${KF_RESOURCES}/presets/*.kfn")
file(INSTALL DESTINATION "${_bundle}/Manual" TYPE FILE FILES ${_manual})
file(INSTALL DESTINATION "${_bundle}/Presets" TYPE FILE FILES ${_presets})
# Empty folders the plug-in saves into; the user's files there are never listed as ours.
file(MAKE_DIRECTORY "$ENV{DESTDIR}${_bundle}/Presets/User" "$ENV{DESTDIR}${_bundle}/Samples/Factory")
