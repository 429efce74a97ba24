# What the 64-bit Windows build (cmake/mingw-w64.cmake) adds to the common settings.

# GCC on 64-bit Windows does not keep the stack aligned to 32 bytes, yet it spills AVX and
# AVX-512 registers there with aligned moves, which fault on a misaligned slot. The assembler
# writes every vector move as its unaligned form instead: as fast on aligned data, and never
# a fault. tests/windows checks the built DLL for aligned wide moves.
add_compile_options(-Wa,-muse-unaligned-vector-move)
# libgcc, libstdc++ and winpthread are linked in, so the DLL and the test programs need
# nothing beside them but Windows itself (the C runtime stays msvcrt.dll).
add_link_options(-static)
# The Windows API level the platform code is written for (Windows 7 and later), the wide
# forms of its calls, and no min/max macros in the way of the standard library; 64-bit file
# offsets, and the maths constants (M_PI) that the GNU C library always offers.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                        _FILE_OFFSET_BITS=64 _USE_MATH_DEFINES)
