# Cross-build for 64-bit Windows with Debian's MinGW-w64 compilers (g++-mingw-w64-x86-64-posix).
# The posix thread model is the one whose libstdc++ has std::thread and std::mutex.
# Use: cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KF_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KF_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KF_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KF_MINGW_TRIPLE}-windres)
set(KF_MINGW_OBJDUMP ${KF_MINGW_TRIPLE}-objdump)

# Headers and libraries come from the MinGW tree only; build tools from the machine.
set(CMAKE_FIND_ROOT_PATH /usr/${KF_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
