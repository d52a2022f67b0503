# Cross build for Linux on 32-bit ARM with hardware floating point (Debian's
# armhf: ARMv7, the i.MX6 and i.MX7 and Aspeed's AST2600 among the boards)
# from a Debian machine of another architecture, with Debian's cross compiler
# (g++-arm-linux-gnueabihf). The target's C and C++ libraries come with it,
# below /usr/arm-linux-gnueabihf.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(WDT_CROSS_TRIPLE arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
