# Installation of the programs that have no rule of their own, and the packages. On Windows: the
# portable ZIP (scripts/package-windows.sh, which also makes the MSI from dist/windows/brelin.wxs).
# Elsewhere the Debian packages (cpack -G DEB): brelin (the desktop program, brelin-cli, their man
# pages, completion and desktop files) and brelin-simulator (klv480-sim, for trying and testing
# without an instrument).
if(TARGET klv480-sim)
  install(TARGETS klv480-sim COMPONENT simulator)
endif()

set(CPACK_PACKAGE_NAME brelin)
set(CPACK_PACKAGE_VENDOR "Brelin developers")
set(CPACK_PACKAGE_CONTACT "Brelin developers <brelin@example.org>")
# CPack puts a summary of its own before each package's synopsis (below) unless the summary is
# its default text, which it would otherwise take from the project's description.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CPACK_PACKAGE_NAME} built using CMake")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  # brelin-<version>-win64.zip, holding the folder brelin-<version>-win64.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  include(CPack)
  return()
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL brelin simulator)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from dpkg-shlibdeps; the Qt platform plugins are loaded at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_BRELIN_PACKAGE_NAME brelin)
# The first line is the synopsis; CPack indents the others and turns the empty one into " .".
set(CPACK_DEBIAN_BRELIN_DESCRIPTION "${PROJECT_DESCRIPTION}
Brelin fetches the memory of a KLV480 measuring instrument over a serial line
with XMODEM and turns it into a report of the four newest readings of every
measurement point, as tab-separated text or CSV, in metric or imperial units.

This package holds the desktop program brelin and the command line brelin-cli
for scripts and servers.")
if(BRELIN_GUI)
  set(CPACK_DEBIAN_BRELIN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_BRELIN_PACKAGE_SUGGESTS brelin-simulator)

set(CPACK_DEBIAN_SIMULATOR_PACKAGE_NAME brelin-simulator)
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_SIMULATOR_DESCRIPTION "Simulated KLV480 instrument on a pseudo-terminal
klv480-sim stands in for a KLV480 measuring instrument: it serves the command
dialogue and sends its memory with XMODEM on a pseudo-terminal, with options
that reproduce a bad line or an unwilling instrument, so that brelin and
brelin-cli can be tried and tested without the hardware.")
include(CPack)
