# The web PKI roots compiled into the agent's HTTP client: every certificate of the Mozilla root
# set that Debian's ca-certificates package installs, joined into one generated source file at
# build time. Run as a script (cmake -DOUT=... -P WebPkiRoots.cmake) it writes that file.
set(VALDORI_ROOTS_DIR /usr/share/ca-certificates/mozilla)

if(CMAKE_SCRIPT_MODE_FILE)
  file(GLOB certs ${VALDORI_ROOTS_DIR}/*.crt)
  list(SORT certs)
  if(NOT certs)
    message(FATAL_ERROR "no root certificates in ${VALDORI_ROOTS_DIR} (package ca-certificates)")
  endif()
  set(pem "")
  foreach(cert ${certs})
    file(READ ${cert} text)
    string(APPEND pem "${text}")
  endforeach()
  # Split into literals below the compilers' limit on one literal (adjacent literals would join
  # into one above it); they are joined once, on first use.
  string(LENGTH "${pem}" length)
  set(body "")
  set(offset 0)
  while(offset LESS length)
    string(SUBSTRING "${pem}" ${offset} 8000 chunk)
    string(APPEND body "      R\"PEM(${chunk})PEM\",\n")
    math(EXPR offset "${offset} + 8000")
  endwhile()
  file(WRITE ${OUT}.tmp "// Generated from ${VALDORI_ROOTS_DIR} at build time; do not edit.\n"
       "#include \"agent/http/web_pki_roots.hpp\"\n\n#include <initializer_list>\n#include <string>\n\n"
       "namespace valdori::http {\n\n"
       "std::string_view web_pki_roots_pem() {\n  static const std::string pem = [] {\n    std::string joined;\n"
       "    for (std::string_view chunk : std::initializer_list<std::string_view>{\n${body}    })\n"
       "      joined += chunk;\n    return joined;\n  }();\n  return pem;\n}\n\n}  // namespace valdori::http\n")
  file(RENAME ${OUT}.tmp ${OUT})
  return()
endif()

# valdori_web_pki_roots(TARGET): generates the roots source and compiles it into TARGET.
function(valdori_web_pki_roots target)
  set(out ${PROJECT_BINARY_DIR}/generated/web_pki_roots.cpp)
  file(GLOB certs CONFIGURE_DEPENDS ${VALDORI_ROOTS_DIR}/*.crt)
  add_custom_command(OUTPUT ${out} COMMAND ${CMAKE_COMMAND} -DOUT=${out} -P ${PROJECT_SOURCE_DIR}/cmake/WebPkiRoots.cmake
                     DEPENDS ${certs} ${PROJECT_SOURCE_DIR}/cmake/WebPkiRoots.cmake
                     COMMENT "Compiling in the web PKI roots")
  target_sources(${target} PRIVATE ${out})
  set_source_files_properties(${out} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
endfunction()
