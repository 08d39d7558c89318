# Read by cpack in a cross build. DEB_HOST_ARCH tells dpkg-shlibdeps the
# architecture it works for: it then reads the programs with that
# architecture's objdump and searches its multiarch folders
# (/lib/aarch64-linux-gnu, ...) first, so the dependencies name the packages
# a board has (libc6, not the cross compiler's libc6-arm64-cross).
set(ENV{DEB_HOST_ARCH} "${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}")
