# cmake -DNM=nm -DOBJECT=file.o -DEXPORTED=glob -P check_globals.cmake: fails when OBJECT defines a
# global symbol whose name the glob (its * any text) does not match, as when objcopy could not
# localise it: a host's own copy of such a symbol (its own Asio, say) would clash with ours.
execute_process(COMMAND ${NM} -g --defined-only --format=posix ${OBJECT}
                OUTPUT_VARIABLE symbols ERROR_VARIABLE error RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} cannot list the symbols of ${OBJECT}: ${error}")
endif()
string(REPLACE "*" ".*" exported "^${EXPORTED} ")
string(REGEX MATCHALL "[^\n]+" symbols "${symbols}")
list(FILTER symbols EXCLUDE REGEX "${exported}")
list(LENGTH symbols count)
if(count GREATER 0)
  list(SUBLIST symbols 0 5 first)
  list(TRANSFORM first REPLACE " .*" "")
  list(JOIN first "\n  " first)
  message(FATAL_ERROR "${OBJECT} leaves ${count} symbols other than ${EXPORTED} global, among them\n"
                      "  ${first}\nThe archive would clash with a host's own copies of them.")
endif()
