# SPDX-License-Identifier: MIT
# Cross build for arm64 against Debian's multiarch packages (the :arm64 -dev
# packages beside the native ones); programs run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VRK_TRIPLET aarch64-linux-gnu)

set(CMAKE_C_COMPILER ${VRK_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VRK_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${VRK_TRIPLET})

# Multiarch needs no sysroot: the arm64 libraries live in /usr/lib/<triplet>.
# pkg-config must see only their .pc files, not the native ones.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${VRK_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/${VRK_TRIPLET})
