# Cross build for 64-bit ARM Linux boards with Debian's cross compiler
# (g++-aarch64-linux-gnu) and the arm64 multiarch libraries
# (libasound2-dev:arm64, libgtest-dev:arm64; libcairo2-dev:arm64 and
# libcpp-httplib-dev:arm64 for songtool only). Target programs run on this machine under qemu-user, so tests and
# build-time tools work unchanged.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# Libraries and packages come from the cross sysroot and from the multiarch
# folders (/usr/lib/aarch64-linux-gnu); programs such as python3 from the host.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

# ctest, gtest_discover_tests and custom commands that run a target program
# (named by its target) go through this, so no binfmt registration is needed.
# -L takes the aarch64 loader from the cross sysroot; LD_LIBRARY_PATH keeps
# libc, libm and libstdc++ from that same sysroot, the ones the programs were
# linked against, ahead of the multiarch copies the loader's cache lists.
# libasound still comes from the multiarch folder.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-aarch64 -L /usr/aarch64-linux-gnu
    -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib)
