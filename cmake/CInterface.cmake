# The C interface as hosts get it: libvaldori_agent.so (only the valdori_agent_* functions
# exported) and libvaldori_agent.a (one archive, everything else localised), installed with the
# header, a CMake package config and a pkg-config module per library. C programs are built
# against the installed copy in the build tree, through pkg-config, as a host would build them.
include(CMakePackageConfigHelpers)
set(_c_dir ${PROJECT_SOURCE_DIR}/cmake/c_interface)
set(_internal_libs valdori_agent valdori_node valdori_p2p valdori_platform valdori_util)

# The symbols a host sees of either library, one pattern: the shared library's version script
# exports them, the archive keeps them global.
set(_exported "valdori_agent_*")
set(_version_script ${PROJECT_BINARY_DIR}/c_interface/valdori_agent.map)
set(_keep_list ${PROJECT_BINARY_DIR}/c_interface/valdori_agent.keep)
file(CONFIGURE OUTPUT ${_version_script} CONTENT "{\n  global: ${_exported};\n  local: *;\n};\n")
file(CONFIGURE OUTPUT ${_keep_list} CONTENT "${_exported}\n")

file(WRITE ${PROJECT_BINARY_DIR}/generated/valdori_agent_shared_empty.cpp "")
add_library(valdori_agent_shared SHARED ${PROJECT_BINARY_DIR}/generated/valdori_agent_shared_empty.cpp)
target_link_libraries(valdori_agent_shared PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,valdori_agent>")
target_link_options(valdori_agent_shared PRIVATE -Wl,--version-script=${_version_script})
# Every symbol resolved inside: except under clang's sanitizers, whose runtime the executable brings.
if(NOT (VALDORI_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang"))
  target_link_options(valdori_agent_shared PRIVATE -Wl,--no-undefined)
endif()
set_target_properties(valdori_agent_shared PROPERTIES
  OUTPUT_NAME valdori_agent LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/c_interface
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR} LINK_DEPENDS ${_version_script})

# The static archive: one relocatable object of every internal library with all but the
# exported symbols made local, so that a host's own symbols (its own Asio, say) never meet ours.
# The compiler driver links it, with the target, sysroot and flags CMake gives it (not
# CMAKE_LINKER: for clang CMake names ld.lld, here lld 14, and --force-group-allocation came with
# lld 18). It resolves the section groups of inline functions and templates: else a host's group
# of the same name would discard ours, whose symbols are local. objcopy then localises every
# defined global symbol but the kept ones, weak ones included; the build fails if one is left, or
# if a function the header declares is not among those left.
# LTO objects (-flto in the flags) are compiled in that link, since objcopy cannot touch IR:
# clang's linker plugin does so by itself, GCC 12 needs it asked (nolto-rel), in one partition
# (it fails to partition them) and without unique symbols, which objcopy cannot make local.
set(_static ${PROJECT_BINARY_DIR}/c_interface/libvaldori_agent.a)
set(_object ${PROJECT_BINARY_DIR}/c_interface/valdori_agent_all.o)
separate_arguments(_link_flags UNIX_COMMAND "${CMAKE_CXX_FLAGS}")
if(CMAKE_CXX_COMPILER_TARGET AND CMAKE_CXX_COMPILE_OPTIONS_TARGET)
  list(APPEND _link_flags ${CMAKE_CXX_COMPILE_OPTIONS_TARGET}${CMAKE_CXX_COMPILER_TARGET})
endif()
if(CMAKE_SYSROOT)
  list(APPEND _link_flags --sysroot=${CMAKE_SYSROOT})
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND _link_flags -flto-partition=one -fno-gnu-unique -flinker-output=nolto-rel)
endif()
set(_archives)
foreach(lib IN LISTS _internal_libs)
  list(APPEND _archives $<TARGET_FILE:${lib}>)
endforeach()
add_custom_command(
  OUTPUT ${_static}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${_static}
  COMMAND ${CMAKE_CXX_COMPILER} ${_link_flags} -r -nostdlib -Wl,--force-group-allocation -o ${_object}
          -Wl,--whole-archive ${_archives} -Wl,--no-whole-archive
  COMMAND ${CMAKE_OBJCOPY} --wildcard --keep-global-symbols=${_keep_list} ${_object}
  COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DOBJECT=${_object} -DEXPORTED=${_exported}
          -DHEADER=${PROJECT_SOURCE_DIR}/include/valdori_agent.h -P ${_c_dir}/check_globals.cmake
  COMMAND ${CMAKE_AR} rcs ${_static} ${_object}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${_object}
  DEPENDS ${_internal_libs} ${_keep_list} ${_c_dir}/check_globals.cmake ${PROJECT_SOURCE_DIR}/include/valdori_agent.h
  COMMENT "Archiving libvaldori_agent.a"
  VERBATIM)
add_custom_target(valdori_agent_static ALL DEPENDS ${_static})

# What linking the archive takes, one list for the pkg-config files and the CMake package: modules
# whose compile flags a host does not need, and plain libraries. toml++ is a plain library: its
# module's Cflags would switch a host's own header-only use of toml++ to the compiled library.
set(VALDORI_C_DEPENDENCY_MODULES "libsodium libcares ldns icu-uc openssl")
set(VALDORI_C_DEPENDENCY_LIBRARIES tomlplusplus spdlog fmt stdc++ m pthread)
list(TRANSFORM VALDORI_C_DEPENDENCY_LIBRARIES PREPEND -l OUTPUT_VARIABLE _flags)
list(JOIN _flags " " VALDORI_C_DEPENDENCY_FLAGS)
# Two pkg-config modules, as the CMake package has two targets: -lvaldori_agent would take the
# shared library wherever both lie in one folder.
function(valdori_c_pkg_config VALDORI_C_PC_NAME VALDORI_C_PC_LIBS)
  configure_file(${_c_dir}/valdori_agent.pc.in ${PROJECT_BINARY_DIR}/c_interface/${VALDORI_C_PC_NAME}.pc @ONLY)
endfunction()
valdori_c_pkg_config(valdori_agent "-L\${libdir} -lvaldori_agent")
valdori_c_pkg_config(valdori_agent_static "\${libdir}/libvaldori_agent.a")
configure_file(${_c_dir}/valdori_agentConfig.cmake.in ${PROJECT_BINARY_DIR}/c_interface/valdori_agentConfig.cmake @ONLY)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/c_interface/valdori_agentConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)

install(FILES ${PROJECT_SOURCE_DIR}/include/valdori_agent.h DESTINATION include COMPONENT c_interface)
install(TARGETS valdori_agent_shared LIBRARY DESTINATION lib COMPONENT c_interface)
install(FILES ${_static} DESTINATION lib COMPONENT c_interface)
install(FILES ${PROJECT_BINARY_DIR}/c_interface/valdori_agent.pc ${PROJECT_BINARY_DIR}/c_interface/valdori_agent_static.pc
        DESTINATION lib/pkgconfig COMPONENT c_interface)
install(FILES ${PROJECT_BINARY_DIR}/c_interface/valdori_agentConfig.cmake
              ${PROJECT_BINARY_DIR}/c_interface/valdori_agentConfigVersion.cmake
        DESTINATION lib/cmake/valdori_agent COMPONENT c_interface)

# valdori_c_program(NAME OUTPUT_DIR SOURCES...): a C11 program built, after an install of the
# interface into the build tree, with pkg-config against the installed shared library.
set(VALDORI_C_PREFIX ${PROJECT_BINARY_DIR}/c_interface/prefix)
set(_installed ${VALDORI_C_PREFIX}/installed.stamp)
add_custom_command(
  OUTPUT ${_installed}
  COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${VALDORI_C_PREFIX} --component c_interface
  COMMAND ${CMAKE_COMMAND} -E touch ${_installed}
  DEPENDS valdori_agent_shared valdori_agent_static ${PROJECT_SOURCE_DIR}/include/valdori_agent.h
          ${_c_dir}/valdori_agent.pc.in ${_c_dir}/valdori_agentConfig.cmake.in
  COMMENT "Installing the C interface into ${VALDORI_C_PREFIX}"
  VERBATIM)
add_custom_target(valdori_agent_installed ALL DEPENDS ${_installed})

set(VALDORI_C_SANITIZE "")
if(VALDORI_SANITIZE)
  set(VALDORI_C_SANITIZE "-fsanitize=${VALDORI_SANITIZE} -fno-omit-frame-pointer")
endif()
function(valdori_c_program name out_dir)
  set(output ${out_dir}/${name})
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
    COMMAND env CC=${CMAKE_C_COMPILER} "SANITIZE=${VALDORI_C_SANITIZE}" bash ${_c_dir}/cc_installed.sh
            ${VALDORI_C_PREFIX} ${output} ${ARGN}
    DEPENDS ${_installed} ${ARGN} ${_c_dir}/cc_installed.sh
    COMMENT "Building ${name} against the installed C interface"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${output})
endfunction()
