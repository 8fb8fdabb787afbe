# What makes the shipped Windows binaries look like a product: a version
# resource from the project's version (with an icon and a manifest where
# given), the debug information in a separate file beside the binary, and
# optionally an Authenticode signature with the publisher's certificate.
enable_language(RC)

set(KELVORA_WIN32_COMPANY "The Kelvora developers" CACHE STRING "Company name in the Windows version resources")
set(KELVORA_WIN32_COPYRIGHT "Copyright (c) 2026 The Kelvora developers" CACHE STRING
  "Copyright line in the Windows version resources")

# Signing (README "Windows"): the publisher's certificate and key, or one
# PKCS#12 file holding both; the password, when they have one, is read from
# a file (never a command line or the cache); a time-stamp server keeps the
# signature valid after the certificate expires.
option(KELVORA_SIGN "Sign AppUpdate.exe and kelvora.dll (osslsigncode)" OFF)
set(KELVORA_SIGN_CERT "" CACHE FILEPATH "Publisher's certificate (PEM or DER; or a .p12/.pfx with the key)")
set(KELVORA_SIGN_KEY "" CACHE FILEPATH "Its private key (PEM or DER); empty for a .p12/.pfx")
set(KELVORA_SIGN_PASSWORD_FILE "" CACHE FILEPATH "A file holding the key's password, if it has one")
set(KELVORA_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server (empty: no time stamp)")
if(KELVORA_SIGN)
  find_program(KV_OSSLSIGNCODE osslsigncode REQUIRED)
  if(NOT EXISTS "${KELVORA_SIGN_CERT}")
    message(FATAL_ERROR "KELVORA_SIGN needs KELVORA_SIGN_CERT, the publisher's certificate (not found: '${KELVORA_SIGN_CERT}')")
  endif()
  if(NOT KELVORA_SIGN_CERT MATCHES "\\.(p12|pfx)$" AND NOT EXISTS "${KELVORA_SIGN_KEY}")
    message(FATAL_ERROR "KELVORA_SIGN needs KELVORA_SIGN_KEY, the certificate's private key (or a .p12/.pfx)")
  endif()
endif()

# kv_windows_resources(<target> FILE_NAME <name.exe|name.dll> DESCRIPTION <text> [ICON <.ico>] [MANIFEST <file>])
# The manifest is configured first (@PROJECT_VERSION@ and the like).
function(kv_windows_resources target)
  cmake_parse_arguments(arg "" "FILE_NAME;DESCRIPTION;ICON;MANIFEST" "" ${ARGN})
  set(kv_rc_file_name ${arg_FILE_NAME})
  set(kv_rc_description ${arg_DESCRIPTION})
  get_filename_component(kv_rc_internal_name ${arg_FILE_NAME} NAME_WE)
  if(arg_FILE_NAME MATCHES "\\.dll$")
    set(kv_rc_file_type VFT_DLL)
  else()
    set(kv_rc_file_type VFT_APP)
  endif()
  set(kv_rc_extra "")
  set(depends "")
  if(arg_ICON)
    # The first icon group is the one Explorer shows.
    string(APPEND kv_rc_extra "1 ICON \"${arg_ICON}\"\n")
    list(APPEND depends ${arg_ICON})
  endif()
  if(arg_MANIFEST)
    set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
    configure_file(${arg_MANIFEST} ${manifest} @ONLY)
    string(APPEND kv_rc_extra "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"${manifest}\"\n")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/version.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${depends}")
  target_sources(${target} PRIVATE ${rc})
endfunction()

# kv_windows_finish(<target> DESCRIPTION <text>)
# After each link: the debug information moved to <binary>.debug beside it
# (found again by GDB through the debug link the binary keeps), then the
# binary signed when KELVORA_SIGN is on.
function(kv_windows_finish target)
  cmake_parse_arguments(arg "" "DESCRIPTION" "" ${ARGN})
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${file}.debug ${file}
    COMMENT "Debug information of ${target} to its .debug file" VERBATIM)
  if(KELVORA_SIGN)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DFILE=${file} "-DDESCRIPTION=${arg_DESCRIPTION}" -DCERT=${KELVORA_SIGN_CERT}
              -DKEY=${KELVORA_SIGN_KEY} -DPASSWORD_FILE=${KELVORA_SIGN_PASSWORD_FILE}
              -DTIMESTAMP_URL=${KELVORA_SIGN_TIMESTAMP_URL} -DOSSLSIGNCODE=${KV_OSSLSIGNCODE}
              -P ${PROJECT_SOURCE_DIR}/cmake/windows/Sign.cmake
      COMMENT "Signing ${target}" VERBATIM)
  endif()
endfunction()
