# Cross build for 64-bit ARM with Debian's cross compiler
# (g++-aarch64-linux-gnu), whose libraries live in /usr/aarch64-linux-gnu.
# Test programs run under QEMU's user-mode emulation (qemu-user), called
# directly, so no binfmt_misc registration is needed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(ORLIM_CROSS_TRIPLE aarch64-linux-gnu)
set(ORLIM_CROSS_SYSROOT /usr/${ORLIM_CROSS_TRIPLE})
set(CMAKE_CXX_COMPILER ${ORLIM_CROSS_TRIPLE}-g++)

# Headers, libraries and packages only from the target's tree, never the
# host's; programs (pkg-config, the emulator, the test tools) from the host.
# The target's libraries installed through Debian's multiarch (SQLite)
# lie under / in /usr/lib/aarch64-linux-gnu, which is searched before
# /usr/lib; the host's own, in /usr/lib/x86_64-linux-gnu, never are.
set(CMAKE_FIND_ROOT_PATH ${ORLIM_CROSS_SYSROOT} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config would otherwise offer the host's .pc files.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${ORLIM_CROSS_TRIPLE}/pkgconfig:${ORLIM_CROSS_SYSROOT}/lib/pkgconfig)

find_program(ORLIM_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(ORLIM_QEMU_AARCH64)
  # -L: where the emulated dynamic loader and C library are. The loader
  # must find the C library of its own build there: with libc6:arm64
  # installed through multiarch, the host's loader cache names
  # /lib/aarch64-linux-gnu, whose C library (another Debian revision) does
  # not go with the cross loader and hangs a forking test. LD_LIBRARY_PATH
  # is searched before the cache; other arm64 libraries (nettle) still come
  # from multiarch.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORLIM_QEMU_AARCH64} -L ${ORLIM_CROSS_SYSROOT}
      -E LD_LIBRARY_PATH=${ORLIM_CROSS_SYSROOT}/lib)
endif()
