# Read by cpack before it makes the packages (CPACK_PROJECT_CONFIG_FILE).
# A package without a maintainer, or with a made-up one, is refused here,
# with the setting that gives it one.
if(CPACK_GENERATOR STREQUAL "DEB")
  if(NOT CPACK_DEBIAN_PACKAGE_MAINTAINER MATCHES "^[^<>]+ <[^<>@ ]+@[^<>@ ]+\\.[^<>@ ]+>$"
     OR CPACK_DEBIAN_PACKAGE_MAINTAINER MATCHES "@(localhost|[^>]*\\.localdomain)>")
    message(FATAL_ERROR "The Debian packages need a maintainer, \"Name <address>\", not "
      "'${CPACK_DEBIAN_PACKAGE_MAINTAINER}': configure with -DKELVORA_PACKAGE_MAINTAINER=\"Name <address>\" "
      "(or set DEBFULLNAME and DEBEMAIL before configuring)")
  endif()
endif()
