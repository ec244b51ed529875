# cmake -DNM=nm -DOBJECT=file.o -DEXPORTED=glob -DHEADER=valdori_agent.h -P check_globals.cmake:
# fails when OBJECT defines a global symbol whose name the glob (its * any text) does not match, as
# when objcopy could not localise it: a host's own copy of such a symbol (its own Asio, say) would
# clash with ours. Fails as well when a function HEADER declares is not a defined global of OBJECT,
# as when the glob matches none or the function's definition is gone: a host would not link.
execute_process(COMMAND ${NM} -g --defined-only --format=posix ${OBJECT}
                OUTPUT_VARIABLE symbols ERROR_VARIABLE error RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} cannot list the symbols of ${OBJECT}: ${error}")
endif()
string(REGEX MATCHALL "[^\n]+" symbols "${symbols}")
list(TRANSFORM symbols REPLACE " .*" "" OUTPUT_VARIABLE defined)

# The header's functions: each valdori_agent_* name followed by an opening parenthesis, once the
# comments are gone (their prose names functions too, "valdori_agent_status (each text ...").
# Macros are upper case and the callback type is no valdori_agent_* name, so only declarations
# are left. None found means the extraction broke: that fails too, rather than pass vacuously.
file(READ ${HEADER} header)
string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/|//[^\n]*" "" header "${header}")
string(REGEX MATCHALL "valdori_agent_[a-z0-9_]+[ \t\r\n]*\\(" declared "${header}")
list(TRANSFORM declared REPLACE "[ \t\r\n]*\\($" "")
list(REMOVE_DUPLICATES declared)
list(LENGTH declared declared_count)
if(declared_count EQUAL 0)
  message(FATAL_ERROR "${HEADER} declares no valdori_agent_* function that could be checked")
endif()
set(missing ${declared})
list(REMOVE_ITEM missing ${defined})
list(LENGTH missing count)
if(count GREATER 0)
  list(JOIN missing "\n  " names)
  message(FATAL_ERROR "${count} of the ${declared_count} functions ${HEADER} declares are no defined global of "
                      "${OBJECT}:\n  ${names}\nA host linking the archive would not find them.")
endif()

string(REPLACE "*" ".*" exported "^${EXPORTED} ")
list(FILTER symbols EXCLUDE REGEX "${exported}")
list(LENGTH symbols count)
if(count GREATER 0)
  list(SUBLIST symbols 0 5 first)
  list(TRANSFORM first REPLACE " .*" "")
  list(JOIN first "\n  " first)
  message(FATAL_ERROR "${OBJECT} leaves ${count} symbols other than ${EXPORTED} global, among them\n"
                      "  ${first}\nThe archive would clash with a host's own copies of them.")
endif()
