# Install rules of the package (included from the top-level CMakeLists.txt
# when KELVORA_INSTALL is on): headers, the CMake package with the components
# Core and Qt, the pkg-config files, the license.
include(CMakePackageConfigHelpers)
set(kv_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Kelvora)

# Every public header, new ones too, and the generated export headers; the
# Qt headers go with Kelvora::Qt's development files (a component of their
# own, so that Core's never need Qt), the Windows ones are not installed.
install(DIRECTORY include/kelvora ${PROJECT_BINARY_DIR}/include/kelvora
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development
  FILES_MATCHING PATTERN "*.h" PATTERN win32 EXCLUDE PATTERN qt EXCLUDE PATTERN kelvora_qt_export.h EXCLUDE)
if(TARGET kelvora_qt)
  install(DIRECTORY include/kelvora/qt DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kelvora
    COMPONENT qt-development FILES_MATCHING PATTERN "*.h")
  install(FILES ${PROJECT_BINARY_DIR}/include/kelvora/kelvora_qt_export.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kelvora COMPONENT qt-development)
endif()

# One targets file per component, so that Core never needs Qt.
install(EXPORT KelvoraCoreTargets NAMESPACE Kelvora:: DESTINATION ${kv_cmake_dir} COMPONENT development)
set(KELVORA_HAS_QT OFF)
if(TARGET kelvora_qt)
  set(KELVORA_HAS_QT ON)
  install(EXPORT KelvoraQtTargets NAMESPACE Kelvora:: DESTINATION ${kv_cmake_dir} COMPONENT qt-development)
endif()
get_target_property(kv_core_type kelvora TYPE)
set(KELVORA_CORE_SHARED OFF)
if(kv_core_type STREQUAL "SHARED_LIBRARY")
  set(KELVORA_CORE_SHARED ON)
endif()
configure_package_config_file(cmake/KelvoraConfig.cmake.in ${PROJECT_BINARY_DIR}/KelvoraConfig.cmake
  INSTALL_DESTINATION ${kv_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KelvoraConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KelvoraConfig.cmake ${PROJECT_BINARY_DIR}/KelvoraConfigVersion.cmake
  DESTINATION ${kv_cmake_dir} COMPONENT development)

# pkg-config: kelvora.pc (C++), kelvora-c.pc (the C interface alone: no
# C++ header library) and kelvora-qt.pc, relocatable (the prefix is found
# from the file's own place). The shared library keeps libcurl and OpenSSL
# private; a static one needs them in every program, so there they are plain
# requirements (`--static` would also ask for the static builds of everything
# libcurl uses, which Debian does not ship).
set(kv_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH KELVORA_PC_PREFIX /${kv_pc_dir} /)
string(REGEX REPLACE "/$" "" KELVORA_PC_PREFIX "${KELVORA_PC_PREFIX}")
if(KELVORA_CORE_SHARED)
  set(KELVORA_PC_REQUIRES "nlohmann_json >= 3")
  set(KELVORA_PC_REQUIRES_PRIVATE "libcurl, openssl, libzstd")
  set(KELVORA_PC_LIBS "")
  set(KELVORA_PC_LIBS_PRIVATE "-pthread")
  set(KELVORA_PC_CFLAGS "")
  set(KELVORA_QT_PC_CFLAGS "")
  set(KELVORA_C_PC_REQUIRES "")
  set(KELVORA_C_PC_LIBS "")
else()
  set(KELVORA_PC_REQUIRES "nlohmann_json >= 3, libcurl, openssl, libzstd")
  set(KELVORA_PC_REQUIRES_PRIVATE "")
  set(KELVORA_PC_LIBS " -pthread")
  set(KELVORA_PC_LIBS_PRIVATE "")
  set(KELVORA_PC_CFLAGS " -DKELVORA_STATIC_DEFINE")
  set(KELVORA_QT_PC_CFLAGS " -DKELVORA_QT_STATIC_DEFINE")
  # A C program linking the static C++ library also needs its runtime.
  set(KELVORA_C_PC_REQUIRES "libcurl, openssl, libzstd")
  set(KELVORA_C_PC_LIBS " -lstdc++ -lm -pthread")
endif()
configure_file(cmake/kelvora.pc.in ${PROJECT_BINARY_DIR}/kelvora.pc @ONLY)
configure_file(cmake/kelvora-c.pc.in ${PROJECT_BINARY_DIR}/kelvora-c.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kelvora.pc ${PROJECT_BINARY_DIR}/kelvora-c.pc
  DESTINATION ${kv_pc_dir} COMPONENT development)
if(KELVORA_HAS_QT)
  configure_file(cmake/kelvora-qt.pc.in ${PROJECT_BINARY_DIR}/kelvora-qt.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/kelvora-qt.pc DESTINATION ${kv_pc_dir} COMPONENT qt-development)
endif()

# Manual pages of the installed tools, and the headers' API reference.
include(cmake/KelvoraManPages.cmake)
include(cmake/KelvoraDocs.cmake)
