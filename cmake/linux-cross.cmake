# What the Linux cross toolchain files share: Debian's cross compiler for
# WDT_CROSS_TRIPLE, the target's libraries and headers found only below
# /usr/<triple>, the build machine's programs anywhere. The tests are not
# built for the target: they run on the build machine (the cross-built
# programs are proven on the boards, in CI on boards emulated by QEMU).
set(CMAKE_C_COMPILER ${WDT_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${WDT_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${WDT_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
