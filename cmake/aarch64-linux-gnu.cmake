# Cross build for Linux on 64-bit ARM (Debian's arm64) from a Debian machine of
# another architecture, with Debian's cross compiler (g++-aarch64-linux-gnu).
# The target's C and C++ libraries come with it, below /usr/aarch64-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(WDT_CROSS_TRIPLE aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
