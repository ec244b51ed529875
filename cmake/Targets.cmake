# Project-wide compile settings and the helpers that define libraries, tests and benchmarks.
# Sources are collected by glob per folder, so adding a file needs no edit here.

add_compile_definitions(
  BOOST_ASIO_SEPARATE_COMPILATION
  BOOST_BEAST_SEPARATE_COMPILATION
  BOOST_ASIO_NO_DEPRECATED
  BOOST_ASIO_DISABLE_BOOST_COROUTINE
  # Asio keeps freed operation and coroutine-frame blocks in per-thread caches. Packets hop
  # threads, so a block is often freed on another thread than the one that took it; with the
  # default two slots per purpose the taking thread's cache runs dry and falls back to the heap
  # (6.6 heap blocks per forwarded packet with 2 slots, 1 with 8, 0.3 with 16).
  BOOST_ASIO_RECYCLING_ALLOCATOR_CACHE_SIZE=16)

set(VALDORI_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough)
if(VALDORI_WERROR)
  list(APPEND VALDORI_WARNINGS -Werror)
endif()
# GCC 12 takes every Asio awaitable frame for a mismatched new/delete pair (the frames allocate
# and free through Asio's own operators); AddressSanitizer checks real mismatches at run time.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND VALDORI_WARNINGS -Wno-mismatched-new-delete)
endif()
# GCC 12 misreads library code it inlines when optimizing: Boost.System's checked results and
# Asio's executor targets as null dereferences, a moved-from container's inline storage as a freed
# heap block; no pragma reaches them (our callers; GCC 12 drops a precompiled header's pragmas).
# The sanitizers' checks make these paths explicit: sanitized builds but Release keep both warnings.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  if(VALDORI_SANITIZE)
    list(APPEND VALDORI_WARNINGS $<$<CONFIG:Release>:-Wno-null-dereference> $<$<CONFIG:Release>:-Wno-free-nonheap-object>)
  else()
    list(APPEND VALDORI_WARNINGS -Wno-null-dereference -Wno-free-nonheap-object)
  endif()
endif()

if(VALDORI_SANITIZE)
  set(_san "-fsanitize=${VALDORI_SANITIZE}")
  add_compile_options(${_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(${_san})
endif()
if(VALDORI_FUZZ)  # coverage feedback in every library; the fuzz targets link the driver
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
if(VALDORI_SANITIZE STREQUAL "thread")
  set(VALDORI_BUILD_BENCH OFF CACHE BOOL "" FORCE)
  # ThreadSanitizer does not model std::atomic_thread_fence, which Asio uses in its fenced
  # blocks (handler invocation; redundant with the scheduler's locks) and in the release
  # decrement + acquire fence of its reference counts (shared executors, strands), where it
  # reports false races. Both are compiled out: fenced blocks off, reference counts through
  # Boost's acq_rel atomic counter instead of Asio's std::atomic one.
  add_compile_definitions(BOOST_ASIO_DISABLE_FENCED_BLOCK BOOST_ASIO_DISABLE_STD_ATOMIC)
  # GCC 12's flow-based warnings misfire on TSan-instrumented inlined library code (Asio's
  # type-erased executors and result slots, std::string copies): not errors here.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    list(APPEND VALDORI_WARNINGS -Wno-null-dereference -Wno-array-bounds -Wno-stringop-overflow
         -Wno-maybe-uninitialized)
  endif()
endif()

# valdori_library(NAME DIR [DEPS ...]): a static library of every .cpp below DIR.
function(valdori_library name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${dir}/*.cpp")
  if(NOT sources)  # a folder whose first source has not been written yet
    set(sources ${PROJECT_BINARY_DIR}/generated/${name}_empty.cpp)
    file(WRITE ${sources} "")
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include
                                            ${PROJECT_BINARY_DIR}/generated)
  target_compile_options(${name} PRIVATE ${VALDORI_WARNINGS})
  # Weak rather than GCC's unique binding for the static data of inline functions and templates:
  # objcopy cannot make unique symbols local, and the C interface's archive needs them local.
  target_compile_options(${name} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-fno-gnu-unique>)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  # Hidden by default: the shared C interface library exports only what its header marks.
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden
                                           VISIBILITY_INLINES_HIDDEN ON)
  target_precompile_headers(${name} PRIVATE ${PROJECT_SOURCE_DIR}/util/pch.hpp)
endfunction()

# One precompiled header for every test program, compiled once: the libraries' one plus GoogleTest.
# Its owner carries only what every test program has too (the flags, the warnings and valdori_util's
# definitions), since a test program may add definitions to the header's but not lack any.
function(valdori_test_pch)
  if(TARGET valdori_test_pch)
    return()
  endif()
  file(WRITE ${PROJECT_BINARY_DIR}/generated/valdori_test_pch.cpp "")
  add_library(valdori_test_pch OBJECT ${PROJECT_BINARY_DIR}/generated/valdori_test_pch.cpp)
  target_compile_options(valdori_test_pch PRIVATE ${VALDORI_WARNINGS})
  target_link_libraries(valdori_test_pch PRIVATE valdori_util GTest::gtest)
  target_precompile_headers(valdori_test_pch PRIVATE ${PROJECT_SOURCE_DIR}/util/pch.hpp <gtest/gtest.h>)
endfunction()

# valdori_test(NAME DIRS LABEL [CONCURRENT] [FILES glob...] [DEPS ...]): one GoogleTest program of
# the .cpp files in the folders DIRS (a list) that match FILES (default: all), its tests registered
# one by one with CTest under LABEL. Where programs share a folder, a file belongs to the first
# program that takes it, so the folder's general program comes last. A ThreadSanitizer build makes
# only the CONCURRENT programs.
function(valdori_test name dirs label)
  cmake_parse_arguments(ARG "CONCURRENT" "" "FILES;DEPS" ${ARGN})
  if(NOT ARG_FILES)
    set(ARG_FILES *.cpp)
  endif()
  set(sources "")
  foreach(dir IN LISTS dirs)
    foreach(pattern IN LISTS ARG_FILES)
      file(GLOB found CONFIGURE_DEPENDS "${dir}/${pattern}")
      list(APPEND sources ${found})
    endforeach()
  endforeach()
  get_property(taken GLOBAL PROPERTY VALDORI_TEST_SOURCES_TAKEN)
  if(taken AND sources)
    list(REMOVE_ITEM sources ${taken})
  endif()
  set_property(GLOBAL APPEND PROPERTY VALDORI_TEST_SOURCES_TAKEN ${sources})
  if(VALDORI_SANITIZE STREQUAL "thread" AND NOT ARG_CONCURRENT)
    return()
  endif()
  if(NOT sources)  # a suite whose first test has not been written yet
    return()
  endif()
  add_executable(${name} ${sources})
  target_compile_options(${name} PRIVATE ${VALDORI_WARNINGS})
  # The program's files of one folder are compiled as one unit: the Asio and GoogleTest code they
  # share is generated once per folder instead of once per file. So the names a test file keeps to
  # itself (in an anonymous namespace, static, macros) must differ from those of the other files
  # in its folder; a clash fails the build as a redefinition.
  if(VALDORI_UNITY_TESTS)
    foreach(source IN LISTS sources)
      file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${source})
      get_filename_component(folder ${folder} DIRECTORY)
      string(MAKE_C_IDENTIFIER ${folder} folder)
      set_source_files_properties(${source} PROPERTIES UNITY_GROUP ${folder})
    endforeach()
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_MODE GROUP)
    # GCC takes the anonymous types of a file included into the unit for a header's.
    target_compile_options(${name} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} valdori_test_support GTest::gtest GTest::gtest_main)
  valdori_test_pch()
  target_precompile_headers(${name} REUSE_FROM valdori_test_pch)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
                       PROPERTIES LABELS ${label} TIMEOUT 300)
endfunction()

# valdori_bench(NAME SOURCE DEPS ...): a Google Benchmark program of one source file.
function(valdori_bench name source)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${source})
    return()
  endif()
  add_executable(${name} ${source})
  target_compile_options(${name} PRIVATE ${VALDORI_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
endfunction()
