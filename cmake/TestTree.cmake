# Initial cache (cmake -C) for the trees of the test command and its stages:
# built once from scratch and then thrown away. Each target's sources are
# compiled in batches (unity build), and the debug information is line
# tables only: enough for sanitizer reports and backtraces with file and
# line, at about half the compiler time of a default tree. Sources that
# cannot share a batch say so with SKIP_UNITY_BUILD_INCLUSION.
set(CMAKE_UNITY_BUILD ON CACHE BOOL "Compile each target's sources in batches")
set(CMAKE_UNITY_BUILD_BATCH_SIZE 8 CACHE STRING "Sources per batch")
set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O2 -g1 -DNDEBUG" CACHE STRING "Optimized, with line tables")
set(CMAKE_C_FLAGS_RELWITHDEBINFO "-O2 -g1 -DNDEBUG" CACHE STRING "Optimized, with line tables")
