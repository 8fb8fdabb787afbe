# Header-only libraries for the cross build, taken from the build machine's
# Debian packages. Only their own folders are exposed (through links in the
# build tree), never the host's /usr/include with its C library headers.
set(kv_host_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${kv_host_headers})
if(NOT EXISTS /usr/include/nlohmann/json.hpp)
  message(FATAL_ERROR "nlohmann/json.hpp not found: run scripts/deps.sh --windows")
endif()
file(CREATE_LINK /usr/include/nlohmann ${kv_host_headers}/nlohmann SYMBOLIC)
add_library(nlohmann_json INTERFACE)
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${kv_host_headers})
