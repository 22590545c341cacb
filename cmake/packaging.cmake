# Installation of the programs that have no rule of their own, and the Debian package (cpack -G DEB).
if(TARGET klv480-sim)
  install(TARGETS klv480-sim)
endif()

set(CPACK_PACKAGE_NAME brelin)
set(CPACK_PACKAGE_VENDOR "Brelin developers")
set(CPACK_PACKAGE_CONTACT "Brelin developers <brelin@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# Debian 12 package names; the Qt ones only matter when the desktop program is built.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1")
if(BRELIN_GUI)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
         ", libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), qt6-qpa-plugins")
endif()
include(CPack)
