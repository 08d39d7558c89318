# Installation and the Debian packages made from it: one package per
# program (component), each with its manual page, the README, the copyright
# note and the changelog. Only these two components are installed; tests,
# benchmarks and build-time tools stay out.
include(GNUInstallDirs)

set(SONGRENDER_MAINTAINER "songrender maintainers <maintainers@users.noreply.c-seed-ad1cd6a5.example>"
    CACHE STRING "Maintainer named in the Debian packages")
set(PACKAGED_PROGRAMS songrender songtool)

# Manual pages carry the version; Debian installs them and the changelog
# compressed with gzip -9n (no name or time stamp, so the same bytes every time).
set(PACKAGE_DOCS ${CMAKE_BINARY_DIR}/package-docs)
configure_file(${CMAKE_SOURCE_DIR}/docs/changelog ${PACKAGE_DOCS}/changelog COPYONLY)
set(compressed ${PACKAGE_DOCS}/changelog.gz)
add_custom_command(OUTPUT ${PACKAGE_DOCS}/changelog.gz
  COMMAND gzip -9nkf changelog
  DEPENDS ${PACKAGE_DOCS}/changelog
  WORKING_DIRECTORY ${PACKAGE_DOCS}
  VERBATIM)
foreach(program ${PACKAGED_PROGRAMS})
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/${program}.1.in ${PACKAGE_DOCS}/${program}.1 @ONLY)
  add_custom_command(OUTPUT ${PACKAGE_DOCS}/${program}.1.gz
    COMMAND gzip -9nkf ${program}.1
    DEPENDS ${PACKAGE_DOCS}/${program}.1
    WORKING_DIRECTORY ${PACKAGE_DOCS}
    VERBATIM)
  list(APPEND compressed ${PACKAGE_DOCS}/${program}.1.gz)

  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${program})
  install(FILES ${PACKAGE_DOCS}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT ${program})
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/copyright
                ${PACKAGE_DOCS}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${program} COMPONENT ${program})
endforeach()
add_custom_target(package_docs ALL DEPENDS ${compressed})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME songrender)
set(CPACK_PACKAGE_VENDOR "songrender maintainers")
set(CPACK_PACKAGE_CONTACT "${SONGRENDER_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${PACKAGED_PROGRAMS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are what the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_SONGRENDER_PACKAGE_NAME songrender)
set(CPACK_DEBIAN_SONGTOOL_PACKAGE_NAME songtool)
set(CPACK_DEBIAN_SONGRENDER_DESCRIPTION
"renders a built-in chiptune song to a WAV file and plays it
songrender renders its one compiled-in song, a byte-coded tune for seven
wavetable oscillator channels and a drum channel, through each channel's
delay and reverb and a mastering equaliser. It writes output.wav (16-bit
stereo, 44100 Hz, 130 seconds) in the current directory and plays it once
on the default ALSA device. Made for small Linux boards with a sound
device; without one it still writes the file.")
set(CPACK_DEBIAN_SONGTOOL_DESCRIPTION
"composer's workbench for songrender songs
songtool assembles songs written in an MML-like notation into songrender's
byte code and back, checks every rule of song data (optionally as JSON),
summarises a song per channel, draws it as a piano roll (SVG or PNG) and
renders it on songrender's engine to a WAV file, with channels soloed or
muted, part of the song only, or one file per channel.")

# The Debian architecture of the programs. A cross build packages for its
# target: dpkg-shlibdeps then reads the programs with the target's binutils
# and looks up the target's multiarch libraries (libc6:arm64, ...), whose
# packages the dependencies name.
if(CMAKE_CROSSCOMPILING)
  if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL aarch64)
    message(FATAL_ERROR "No Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
  set(SONGRENDER_DEB_ARCH arm64)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/cpack-cross.cmake)
else()
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE SONGRENDER_DEB_ARCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${SONGRENDER_DEB_ARCH})

include(CPack)
