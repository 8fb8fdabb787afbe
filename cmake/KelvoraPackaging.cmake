# `cpack` (after a build with -DBUILD_SHARED_LIBS=ON and debug information,
# e.g. RelWithDebInfo, the usual way to ship a library on Debian) makes one
# .deb per install component:
#   libkelvora1        runtime: the shared Kelvora::Core
#   libkelvora-qt1     runtime: the shared Kelvora::Qt (when it was built)
#   libkelvora-dev     Core's headers, CMake package, kelvora.pc, kelvora-c.pc
#   libkelvora-qt-dev  Kelvora::Qt's headers, CMake targets, kelvora-qt.pc
#   kelvora-tools      kelvora-console and kelvora-publish, with manual pages
# and a -dbgsym package (.ddeb) with the debug information of each package
# that has programs or libraries, which are shipped stripped. The demo is not
# packaged. Dependencies on system libraries come from dpkg-shlibdeps; those
# between the packages are exact versions.

# Who maintains the packages: the Maintainer field and the changelog's
# signature. Debian's tools take it from DEBFULLNAME and DEBEMAIL.
set(kv_maintainer_default "")
if(DEFINED ENV{DEBEMAIL} AND DEFINED ENV{DEBFULLNAME})
  set(kv_maintainer_default "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
endif()
set(KELVORA_PACKAGE_MAINTAINER "${kv_maintainer_default}" CACHE STRING
  "Maintainer of the Debian packages, \"Name <address>\" (default: $DEBFULLNAME <$DEBEMAIL>)")

set(CPACK_PACKAGE_NAME kelvora)
set(CPACK_PACKAGE_VENDOR "The Kelvora developers")
set(CPACK_PACKAGE_CONTACT "${KELVORA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KELVORA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tools)
if(TARGET kelvora_qt)
  list(APPEND CPACK_COMPONENTS_ALL qt-runtime qt-development)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# kelvora-console needs libkelvora.so.<major> from the package beside it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
# The libraries' packages say which version a program built against them
# needs (shlibs), and ask dpkg to run ldconfig once (the trigger) instead of
# maintainer scripts.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Checks at cpack time, and the finishing step CPack has no setting for.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackProject.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebFinish.cmake)
# The license is part of every package's metadata: the control description
# names it, and each package carries the text as its copyright file.
set(kv_license_line "License: MIT (The Kelvora developers, 2026).")
set(kv_exact "(= ${PROJECT_VERSION})")
set(kv_major ${PROJECT_VERSION_MAJOR})

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkelvora${kv_major})
# The library opens addresses in the user's browser: xdg-open, else
# sensible-browser.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "sensible-utils")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "${PROJECT_DESCRIPTION} - shared library\n Kelvora::Core: the upgrade engine, HTTP transfers, the updater program.\n ${kv_license_line}")

set(CPACK_DEBIAN_QT-RUNTIME_PACKAGE_NAME libkelvora-qt${kv_major})
set(CPACK_DEBIAN_QT-RUNTIME_PACKAGE_DEPENDS "libkelvora${kv_major} ${kv_exact}")
set(CPACK_DEBIAN_QT-RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_COMPONENT_QT-RUNTIME_DESCRIPTION "${PROJECT_DESCRIPTION} - Qt Widgets library\n Kelvora::Qt: the Qt loop back-end and the upgrade windows.\n ${kv_license_line}")

# Core's development files need no Qt; Kelvora::Qt's come on their own.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkelvora-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libkelvora${kv_major} ${kv_exact}, nlohmann-json3-dev (>= 3)")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "${PROJECT_DESCRIPTION} - development files\n Headers, the CMake package Kelvora (component Core) and the pkg-config\n files kelvora.pc (C++) and kelvora-c.pc (the C interface).\n ${kv_license_line}")

set(CPACK_DEBIAN_QT-DEVELOPMENT_PACKAGE_NAME libkelvora-qt-dev)
set(CPACK_DEBIAN_QT-DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_QT-DEVELOPMENT_PACKAGE_DEPENDS
  "libkelvora-dev ${kv_exact}, libkelvora-qt${kv_major} ${kv_exact}, qt6-base-dev")
set(CPACK_COMPONENT_QT-DEVELOPMENT_DESCRIPTION "${PROJECT_DESCRIPTION} - Qt development files\n Headers of Kelvora::Qt, its part of the CMake package Kelvora (component\n Qt) and the pkg-config file kelvora-qt.pc.\n ${kv_license_line}")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME kelvora-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
# kelvora-publish has Core's objects linked in, the browser opener too.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libkelvora${kv_major} ${kv_exact}, sensible-utils")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "${PROJECT_DESCRIPTION} - tools\n kelvora-publish signs releases and writes info files; kelvora-console is a\n console program that upgrades itself.\n ${kv_license_line}")

# Debian's places for the license text and the changelog (a native package's
# is changelog.gz): /usr/share/doc/<package>/.
include(cmake/DebianChangelog.cmake)
set(kv_changelog ${PROJECT_BINARY_DIR}/debian/changelog.gz)
kv_debian_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${kv_changelog} kelvora
  "${KELVORA_PACKAGE_MAINTAINER}" ${PROJECT_VERSION})
foreach(kv_component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${kv_component} kv_upper)
  set(kv_package ${CPACK_DEBIAN_${kv_upper}_PACKAGE_NAME})
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${kv_package}
    RENAME copyright COMPONENT ${kv_component})
  install(FILES ${kv_changelog} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${kv_package}
    COMPONENT ${kv_component})
endforeach()
include(CPack)
