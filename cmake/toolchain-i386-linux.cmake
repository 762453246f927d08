# SPDX-License-Identifier: Apache-2.0
# 32-bit x86 Linux on an x86-64 Debian host: the native compilers with -m32
# (g++-multilib) against the i386 packages (dpkg --add-architecture i386).
# Where the kernel runs 32-bit programs the result runs natively, and this is
# not a cross-build. Where it does not, give the emulator that runs them
# (Debian's qemu-user): the build is then a cross-build, and CTest, test
# discovery and the test scripts start every program through it.
#   cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i386-linux.cmake
#   cmake -S . -B build-i386-qemu -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i386-linux.cmake \
#         -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/qemu-i386
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR i686)
endif()
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
# Libraries, CMake packages and pkg-config files of the i386 multiarch tree.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
