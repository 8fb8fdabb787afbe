# The API reference of the installed headers (docs/Doxyfile.in), made by
# Doxygen into <build>/docs/api/html: `cmake --build <build> --target
# kelvora-api-docs`. Any Doxygen warning fails it.
include_guard(GLOBAL)
find_program(KELVORA_DOXYGEN doxygen)
set(KELVORA_DOCS_DIR ${PROJECT_BINARY_DIR}/docs/api)
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/docs/Doxyfile @ONLY)
if(KELVORA_DOXYGEN)
  add_custom_target(kelvora-api-docs
    COMMAND ${KELVORA_DOXYGEN} ${PROJECT_BINARY_DIR}/docs/Doxyfile
    COMMENT "API reference in ${KELVORA_DOCS_DIR}/html"
    VERBATIM)
endif()
