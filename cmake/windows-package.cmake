# The zip for Windows users (included by src/plugin when building for Windows).
set(KF_DIST_DIR ${PROJECT_BINARY_DIR} CACHE PATH "Where the zip for Windows users is written")
set(KF_WINDOWS_ZIP ${KF_DIST_DIR}/Kestrafone-${PROJECT_VERSION}-win64.zip CACHE INTERNAL "")
add_custom_target(windows-zip ALL
  COMMAND ${CMAKE_COMMAND} -DDLL=$<TARGET_FILE:kestrafone> -DTOOL=$<TARGET_FILE:kestrafone-render> -DVERSION=${PROJECT_VERSION} -DSOURCE=${PROJECT_SOURCE_DIR}
          -DSTAGE=${PROJECT_BINARY_DIR}/zip -DZIP=${KF_WINDOWS_ZIP} -DSTRIP=${KF_MINGW_TRIPLE}-strip
          -P ${PROJECT_SOURCE_DIR}/cmake/windows-zip.cmake
  DEPENDS kestrafone ${PROJECT_SOURCE_DIR}/cmake/windows-zip.cmake ${PROJECT_SOURCE_DIR}/resources/windows/README.txt
  COMMENT "Packing ${KF_WINDOWS_ZIP}"
  VERBATIM)
