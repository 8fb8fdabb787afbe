# Manual pages of kelvora-console and kelvora-publish, made at build time by
# help2man from what the programs print for --help and --version, so they
# cannot drift from the programs. Installed gzip-compressed (-n: no name or
# time in the header, so the same build gives the same bytes). Sanitizer
# trees skip them: their programs may not run cleanly at build time.
find_program(KELVORA_HELP2MAN help2man)
if(NOT KELVORA_HELP2MAN OR KELVORA_SANITIZE)
  if(NOT KELVORA_HELP2MAN)
    message(STATUS "No help2man: the tools are installed without manual pages")
  endif()
  return()
endif()
set(kv_man_dir ${PROJECT_BINARY_DIR}/man)
set(kv_man_pages)
foreach(kv_tool "kelvora-console|a console program that keeps itself up to date"
                "kelvora-publish|make, sign and check the info files of releases")
  string(REPLACE "|" ";" kv_tool "${kv_tool}")
  list(GET kv_tool 0 kv_name)
  list(GET kv_tool 1 kv_summary)
  if(NOT TARGET ${kv_name})
    continue()
  endif()
  add_custom_command(OUTPUT ${kv_man_dir}/${kv_name}.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${kv_man_dir}
    COMMAND ${KELVORA_HELP2MAN} --no-info --name=${kv_summary} --output=${kv_man_dir}/${kv_name}.1
      $<TARGET_FILE:${kv_name}>
    COMMAND gzip -9nf ${kv_man_dir}/${kv_name}.1
    DEPENDS ${kv_name}
    COMMENT "Manual page of ${kv_name}"
    VERBATIM)
  list(APPEND kv_man_pages ${kv_man_dir}/${kv_name}.1.gz)
endforeach()
if(kv_man_pages)
  add_custom_target(kelvora-man-pages ALL DEPENDS ${kv_man_pages})
  install(FILES ${kv_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endif()
