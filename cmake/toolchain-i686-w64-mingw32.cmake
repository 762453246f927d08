# SPDX-License-Identifier: Apache-2.0
# 32-bit Windows (i686) with Debian's mingw-w64 cross compilers. The POSIX
# thread model is used: it gives std::thread, which the tests need.
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
#         -DZAQ_MINGW_PREFIX=<Xerces-C and GoogleTest built by tools/mingw-deps.sh>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZAQ_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZAQ_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZAQ_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZAQ_MINGW_TRIPLET}-windres)
# ZAQ_MINGW_PREFIX: where Xerces-C and GoogleTest for this target live.
set(CMAKE_FIND_ROOT_PATH /usr/${ZAQ_MINGW_TRIPLET} ${ZAQ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Test programs run under Wine (wine32); set WINEDEBUG=-all for quiet runs.
find_program(ZAQ_WINE wine)
if(ZAQ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZAQ_WINE})
endif()
