# Cross-building the Windows edition on Linux with mingw-w64 (Debian's
# g++-mingw-w64-x86-64-win32: the win32 thread model, so the program needs
# no winpthread DLL). Programs built here run under Wine, which CMake uses
# as the emulator for anything it has to run (tests, try_run).
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ROTAVOX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ROTAVOX_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${ROTAVOX_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${ROTAVOX_MINGW_PREFIX}-windres)

# Headers, libraries and packages come from the mingw-w64 sysroot only;
# programs (code generators and the like) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ROTAVOX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ROTAVOX_WINE wine)
if(ROTAVOX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ROTAVOX_WINE})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
