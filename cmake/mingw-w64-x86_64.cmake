# Cross build for Windows x64 with Debian's mingw-w64 (posix threads flavour,
# for std::thread), static runtime, tests run under Wine:
#   cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(kv_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${kv_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${kv_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${kv_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${kv_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# No libgcc/libstdc++/winpthread DLLs beside the programs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(KELVORA_PLATFORM win32 CACHE STRING "System back-end: linux or win32")
# Wine runs the test programs; a fresh prefix per build tree.
find_program(KV_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KV_WINE})
endif()
