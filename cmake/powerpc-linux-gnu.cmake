# Cross build for the board's processor: big-endian 32-bit PowerPC with Debian's
# g++-powerpc-linux-gnu. Libraries come from the sysroot that
# scripts/build-ppc-sysroot builds; programs run under qemu-user.
#
#   cmake -S . -B build-ppc -DCMAKE_TOOLCHAIN_FILE=cmake/powerpc-linux-gnu.cmake
#
# The sysroot is INSTALLER_PPC_SYSROOT (a cache or environment variable),
# default /var/cache/installer-ppc-sysroot.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(CMAKE_C_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc-linux-gnu-g++)

if(NOT INSTALLER_PPC_SYSROOT)
  if(DEFINED ENV{INSTALLER_PPC_SYSROOT})
    set(INSTALLER_PPC_SYSROOT "$ENV{INSTALLER_PPC_SYSROOT}")
  else()
    set(INSTALLER_PPC_SYSROOT /var/cache/installer-ppc-sysroot)
  endif()
endif()
set(INSTALLER_PPC_SYSROOT "${INSTALLER_PPC_SYSROOT}" CACHE PATH
    "Static libraries built for PowerPC by scripts/build-ppc-sysroot")
# try_compile projects read this file again; hand them the same sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES INSTALLER_PPC_SYSROOT)

# Libraries, headers and CMake packages only from the sysroot and the cross
# C library; programs (the host's tools) from the host.
set(CMAKE_FIND_ROOT_PATH "${INSTALLER_PPC_SYSROOT}" /usr/powerpc-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Nothing of the host's pkg-config files may leak into the target's link.
set(ENV{PKG_CONFIG_LIBDIR} "${INSTALLER_PPC_SYSROOT}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
# A 32-bit target still needs 64-bit file offsets, inode numbers and times:
# without them readdir fails with EOVERFLOW on file systems with large inode
# numbers or directory offsets, and build times from 2038 on turn negative.
# The sysroot's libraries are built with the same flags.
set(INSTALLER_PPC_ABI_FLAGS "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
# The board's flash is small: code is optimised for size, each function and
# object in a section of its own, so that the installer's link drops what
# nothing calls (see src/cli/CMakeLists.txt).
set(INSTALLER_PPC_SIZE_FLAGS "-ffunction-sections -fdata-sections")
set(CMAKE_C_FLAGS_INIT "${INSTALLER_PPC_ABI_FLAGS} ${INSTALLER_PPC_SIZE_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${INSTALLER_PPC_ABI_FLAGS} ${INSTALLER_PPC_SIZE_FLAGS}")
set(CMAKE_C_FLAGS_RELWITHDEBINFO "-Os -g -DNDEBUG" CACHE STRING "")
set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-Os -g -DNDEBUG" CACHE STRING "")

# 32-bit PowerPC has no native 64-bit atomics; libcrypto and the C++ library
# take them from libatomic, so every program links it.
set(CMAKE_C_STANDARD_LIBRARIES_INIT -latomic)
set(CMAKE_CXX_STANDARD_LIBRARIES_INIT -latomic)
# Static archives only: the board has no shared libraries of ours.
set(OPENSSL_USE_STATIC_LIBS TRUE)
set(ZLIB_USE_STATIC_LIBS TRUE)

# CTest and GoogleTest's test discovery run every test program through the
# emulator; tests that start a built program themselves put the same words in
# front of it (absolute paths, as execv wants them: Debian's qemu-user). The
# e300c3 has a classic FPU like Debian's hard-float toolchain expects (the SPE
# cores e500v1/v2 stop at the first floating-point instruction) and its
# processor version register is 0x00850010.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-ppc;-cpu;e300c3;-L;/usr/powerpc-linux-gnu)
# For programs run inside a scratch root with chroot: the static emulator
# (qemu-user-static), copied into the root, needs no libraries there.
set(INSTALLER_CHROOT_EMULATOR /usr/bin/qemu-ppc-static;-cpu;e300c3)
