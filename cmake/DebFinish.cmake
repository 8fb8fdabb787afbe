# Run by cpack after it made the .deb and .ddeb packages
# (CPACK_POST_BUILD_SCRIPTS), for what CPack 3.25 gets wrong:
# - it adds postinst and postrm scripts that call ldconfig to a package with
#   a shared library; the package's ldconfig trigger does that job, and
#   Debian no longer wants the scripts;
# - its Installed-Size counts a library again for each link to it;
# - its -dbgsym packages list build paths in md5sums, and carry no
#   copyright file or changelog (they get a link to their package's).
# Each package is unpacked, put right and packed again by dpkg-deb.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.d?deb$")
    continue()
  endif()
  set(dir ${deb}.unpacked)
  file(REMOVE_RECURSE ${dir})
  execute_process(COMMAND dpkg-deb -R ${deb} ${dir} COMMAND_ERROR_IS_FATAL ANY)
  if(EXISTS ${dir}/DEBIAN/triggers)
    foreach(script postinst postrm)
      if(EXISTS ${dir}/DEBIAN/${script})
        file(STRINGS ${dir}/DEBIAN/${script} body)
        list(FILTER body EXCLUDE REGEX "^(#!/bin/sh|set -e|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then|[ \t]*ldconfig|fi|)$")
        if(body)
          message(FATAL_ERROR "${deb}: ${script} does more than call ldconfig: ${body}")
        endif()
        file(REMOVE ${dir}/DEBIAN/${script})
      endif()
    endforeach()
  endif()
  file(STRINGS ${dir}/DEBIAN/control package REGEX "^Package: ")
  string(REGEX REPLACE "^Package: " "" package "${package}")
  if(package MATCHES "-dbgsym$")
    # As debhelper does: the documentation folder is a link to that of the
    # package it depends on, exactly.
    string(REGEX REPLACE "-dbgsym$" "" owner "${package}")
    file(MAKE_DIRECTORY ${dir}/usr/share/doc)
    file(CREATE_LINK ${owner} ${dir}/usr/share/doc/${package} SYMBOLIC)
  endif()
  execute_process(COMMAND sh -c "find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum > DEBIAN/md5sums"
    WORKING_DIRECTORY ${dir} COMMAND_ERROR_IS_FATAL ANY)
  # As dpkg-gencontrol counts: each file's size in KiB rounded up, and one
  # KiB for every other entry.
  execute_process(COMMAND find ${dir} -mindepth 1 -path ${dir}/DEBIAN -prune -o -printf "%y %s\\n"
    OUTPUT_VARIABLE entries COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[a-z] [0-9]+" entries "${entries}")
  set(kib 0)
  foreach(entry IN LISTS entries)
    if(entry MATCHES "^f ([0-9]+)$")
      math(EXPR kib "${kib} + (${CMAKE_MATCH_1} + 1023) / 1024")
    else()
      math(EXPR kib "${kib} + 1")
    endif()
  endforeach()
  file(READ ${dir}/DEBIAN/control control)
  string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n" "\nInstalled-Size: ${kib}\n" control "${control}")
  file(WRITE ${dir}/DEBIAN/control "${control}")
  file(REMOVE ${deb})
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build ${dir} ${deb}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${dir})
endforeach()
