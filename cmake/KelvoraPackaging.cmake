# `cpack` (after a build with -DBUILD_SHARED_LIBS=ON, the usual way to ship a
# library on Debian) makes one .deb per install component:
#   libkelvora1     runtime: the shared Kelvora::Core
#   libkelvora-qt1  runtime: the shared Kelvora::Qt (when it was built)
#   libkelvora-dev  headers, CMake package, pkg-config files, link names
#   kelvora-tools   kelvora-console and kelvora-publish
# The demo is not packaged. Dependencies on system libraries come from
# dpkg-shlibdeps; those between the packages are exact versions.

set(CPACK_PACKAGE_NAME kelvora)
set(CPACK_PACKAGE_VENDOR "The Kelvora developers")
set(CPACK_PACKAGE_CONTACT "The Kelvora developers <kelvora@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tools)
if(TARGET kelvora_qt)
  list(APPEND CPACK_COMPONENTS_ALL qt-runtime)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# kelvora-console needs libkelvora.so.1 from the package beside it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The license is part of every package's metadata: the control description
# names it, and each package carries the text as its copyright file.
set(kv_license_line "License: MIT (The Kelvora developers, 2026).")
set(kv_exact "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkelvora${PROJECT_VERSION_MAJOR})
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "${PROJECT_DESCRIPTION} - shared library\n Kelvora::Core: the upgrade engine, HTTP transfers, the updater program.\n ${kv_license_line}")

set(CPACK_DEBIAN_QT-RUNTIME_PACKAGE_NAME libkelvora-qt${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_QT-RUNTIME_PACKAGE_DEPENDS "libkelvora${PROJECT_VERSION_MAJOR} ${kv_exact}")
set(CPACK_COMPONENT_QT-RUNTIME_DESCRIPTION "${PROJECT_DESCRIPTION} - Qt Widgets library\n Kelvora::Qt: the Qt loop back-end and the upgrade windows.\n ${kv_license_line}")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkelvora-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libkelvora${PROJECT_VERSION_MAJOR} ${kv_exact}, nlohmann-json3-dev (>= 3)")
if(TARGET kelvora_qt)
  string(APPEND CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS ", libkelvora-qt${PROJECT_VERSION_MAJOR} ${kv_exact}")
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SUGGESTS "qt6-base-dev")
endif()
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "${PROJECT_DESCRIPTION} - development files\n Headers, the CMake package Kelvora (components Core and Qt) and the\n pkg-config files kelvora.pc and kelvora-qt.pc.\n ${kv_license_line}")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME kelvora-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libkelvora${PROJECT_VERSION_MAJOR} ${kv_exact}")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "${PROJECT_DESCRIPTION} - tools\n kelvora-publish signs releases and writes info files; kelvora-console is a\n console program that upgrades itself.\n ${kv_license_line}")

# Debian's place for the license text: /usr/share/doc/<package>/copyright.
foreach(kv_component runtime qt-runtime development tools)
  string(TOUPPER ${kv_component} kv_upper)
  set(kv_package ${CPACK_DEBIAN_${kv_upper}_PACKAGE_NAME})
  if(kv_package)
    install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${kv_package}
      RENAME copyright COMPONENT ${kv_component})
  endif()
endforeach()
include(CPack)
