# Shared by the cross toolchains: Debian's cross compilers, their sysroot, and
# qemu user emulation pointed at that sysroot so test programs run on the host.
set(NMM_SYSROOT /usr/${NMM_CROSS_TRIPLE})
set(CMAKE_C_COMPILER ${NMM_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${NMM_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH ${NMM_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# jni.h is architecture-neutral apart from jni_md.h, which only depends on the
# data model; the host JDK's headers serve every target.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_CROSSCOMPILING_EMULATOR ${NMM_QEMU};-L;${NMM_SYSROOT})
