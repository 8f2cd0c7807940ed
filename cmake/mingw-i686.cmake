# Cross-compiles for 32-bit Windows with the MinGW-w64 compilers; CTest runs
# the resulting programs under Wine.
#
# MINGW_THREAD_MODEL picks the compilers: posix (the default; GoogleTest needs
# its std::mutex) or win32 (the product DLL: its runtime takes nothing from
# the process that an unload does not give back).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
if(NOT DEFINED MINGW_THREAD_MODEL)
  set(MINGW_THREAD_MODEL posix)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_THREAD_MODEL)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${MINGW_THREAD_MODEL})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${MINGW_THREAD_MODEL})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# SSE arithmetic: IEEE single and double results, no x87 excess precision, and
# no x87 loads that would quiet a signalling NaN on its way through.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
# Nothing but system DLLs at run time: the C and C++ runtimes and the thread
# library go into each binary.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
