# Build facts of the version information: package version, source revision and dirty flag,
# build time, profile and features, as constants in ${PROJECT_BINARY_DIR}/generated/
# valdori_build_info.hpp.
#
# Included, this file defines valdori_build_info(TARGET FEATURES ...): a step that runs before
# TARGET compiles, at every build, so the revision and the dirty flag are always current. It
# rewrites the header only when one of the facts changed (the build time is then taken anew), so
# an unchanged tree rebuilds nothing. Run with -P, it is that step and writes the header.
#
# Without git, or outside a work tree of this project, the revision is "unknown" and the tree
# counts as clean.

if(NOT CMAKE_SCRIPT_MODE_FILE)
  function(valdori_build_info target)
    cmake_parse_arguments(ARG "" "" "FEATURES" ${ARGN})
    set(header ${PROJECT_BINARY_DIR}/generated/valdori_build_info.hpp)
    list(JOIN ARG_FEATURES "," features)
    add_custom_target(${target}_build_info
      COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUTPUT=${header}
              -DVERSION=${PROJECT_VERSION} -DDEBUG_BUILD=$<IF:$<CONFIG:Debug>,true,false>
              -DFEATURES=${features} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      BYPRODUCTS ${header}
      VERBATIM)
    add_dependencies(${target} ${target}_build_info)
  endfunction()
  return()
endif()

set(commit "unknown")
set(dirty "false")
find_program(GIT_EXECUTABLE git)
if(GIT_EXECUTABLE)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --show-toplevel
                  OUTPUT_VARIABLE top RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  file(REAL_PATH "${SOURCE_DIR}" source_real)
  if(rc EQUAL 0)
    file(REAL_PATH "${top}" top)
  endif()
  # A source tree unpacked inside some other repository must not take that one's revision.
  if(rc EQUAL 0 AND top STREQUAL source_real)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse HEAD
                    OUTPUT_VARIABLE head RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(rc EQUAL 0 AND head MATCHES "^[0-9a-f]+$")
      string(SUBSTRING "${head}" 0 7 commit)
      # No optional locks: other processes may be committing in the same tree.
      execute_process(COMMAND ${GIT_EXECUTABLE} --no-optional-locks -C ${SOURCE_DIR} status --porcelain
                      OUTPUT_VARIABLE changes RESULT_VARIABLE rc ERROR_QUIET)
      if(rc EQUAL 0 AND NOT changes STREQUAL "")
        set(dirty "true")
      endif()
    endif()
  endif()
endif()

set(facts "${VERSION}|${commit}|${dirty}|${DEBUG_BUILD}|${FEATURES}")
if(EXISTS "${OUTPUT}")
  file(STRINGS "${OUTPUT}" old_facts REGEX "^// facts: " LIMIT_COUNT 1)
  if(old_facts STREQUAL "// facts: ${facts}")
    return()
  endif()
endif()

# RFC 3339 in UTC with nine fraction digits; the clock gives microseconds.
string(TIMESTAMP now "%Y-%m-%dT%H:%M:%S.%f" UTC)
file(WRITE "${OUTPUT}" "// Written by cmake/BuildInfo.cmake at build time.
// facts: ${facts}
#pragma once

namespace valdori::version::build {

inline constexpr char kVersion[] = \"${VERSION}\";
inline constexpr char kGitCommit[] = \"${commit}\";
inline constexpr char kGitDirty[] = \"${dirty}\";
inline constexpr char kBuildTimestamp[] = \"${now}000Z\";
inline constexpr char kDebugBuild[] = \"${DEBUG_BUILD}\";
inline constexpr char kFeatures[] = \"${FEATURES}\";

}  // namespace valdori::version::build
")
