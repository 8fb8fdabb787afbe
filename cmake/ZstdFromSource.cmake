# Zstandard for the Windows build, compiled from a source tree (Debian's
# source package, fetched by scripts/zstd-source.sh: Debian ships no libzstd
# for mingw-w64). The library alone: one thread, no legacy formats, plain C
# for Huffman decoding (no assembly). Sets KELVORA_ZSTD_TARGET.
set(kv_zstd_lib ${KELVORA_ZSTD_SOURCE}/lib)
if(NOT EXISTS ${kv_zstd_lib}/zstd.h)
  message(FATAL_ERROR "KELVORA_ZSTD_SOURCE (${KELVORA_ZSTD_SOURCE}) holds no Zstandard sources (lib/zstd.h)")
endif()
file(GLOB kv_zstd_sources CONFIGURE_DEPENDS
  ${kv_zstd_lib}/common/*.c ${kv_zstd_lib}/compress/*.c ${kv_zstd_lib}/decompress/*.c)
add_library(kelvora_zstd STATIC ${kv_zstd_sources})
target_include_directories(kelvora_zstd SYSTEM PUBLIC $<BUILD_INTERFACE:${kv_zstd_lib}>)
target_compile_definitions(kelvora_zstd PRIVATE
  ZSTD_LEGACY_SUPPORT=0 ZSTD_DISABLE_ASM XXH_NAMESPACE=ZSTD_ DEBUGLEVEL=0)
# Its own code, built as its makers do: their warnings are not this
# project's to act on.
target_compile_options(kelvora_zstd PRIVATE -w)
# Its files share private names and macros: each is compiled on its own, in
# unity builds too.
set_target_properties(kelvora_zstd PROPERTIES UNITY_BUILD OFF)
set(KELVORA_ZSTD_TARGET kelvora_zstd)
file(STRINGS ${kv_zstd_lib}/zstd.h kv_zstd_version REGEX "^#define ZSTD_VERSION_(MAJOR|MINOR|RELEASE) ")
string(REGEX MATCHALL "[0-9]+$|[0-9]+;" kv_zstd_version "${kv_zstd_version}")
string(REPLACE ";" "." kv_zstd_version "${kv_zstd_version}")
string(REPLACE ".." "." kv_zstd_version "${kv_zstd_version}")
message(STATUS "Zstandard ${kv_zstd_version} from ${KELVORA_ZSTD_SOURCE}: patches on")
