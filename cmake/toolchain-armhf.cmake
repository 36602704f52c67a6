# 32-bit ARM (hard float) Linux, the stand-in for armeabi-v7a; tests run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(NMM_CROSS_TRIPLE arm-linux-gnueabihf)
set(NMM_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
