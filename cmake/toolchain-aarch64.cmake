# 64-bit ARM Linux, the stand-in for arm64-v8a; tests run under qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(NMM_CROSS_TRIPLE aarch64-linux-gnu)
set(NMM_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
