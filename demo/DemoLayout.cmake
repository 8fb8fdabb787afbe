# The demo window's stored layout, compiled in: the demo as released, and the
# same program released later, which differs only in its stored VersionDate.
# Sets kv_demo_released_dir and kv_demo_next_dir (each holds StoredLayout.h).

# The release date the newer build carries (scripts/demo.sh announces the same
# date in the info file it serves).
set(KELVORA_DEMO_NEXT_DATE "12/31/2030")

set(kv_demo_src ${CMAKE_CURRENT_LIST_DIR})
file(READ ${kv_demo_src}/Main.json kv_demo_layout)
set(kv_demo_date "\"VersionDate\": \"10/15/2005\"")
string(FIND "${kv_demo_layout}" "${kv_demo_date}" kv_at)
if(kv_at EQUAL -1)
  message(FATAL_ERROR "demo/Main.json: no ${kv_demo_date}")
endif()
set(kv_demo_released_dir ${CMAKE_CURRENT_BINARY_DIR}/released)
set(kv_demo_next_dir ${CMAKE_CURRENT_BINARY_DIR}/next)
configure_file(${kv_demo_src}/StoredLayout.h.in ${kv_demo_released_dir}/StoredLayout.h @ONLY)
string(REPLACE "${kv_demo_date}" "\"VersionDate\": \"${KELVORA_DEMO_NEXT_DATE}\"" kv_demo_layout "${kv_demo_layout}")
configure_file(${kv_demo_src}/StoredLayout.h.in ${kv_demo_next_dir}/StoredLayout.h @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${kv_demo_src}/Main.json)
