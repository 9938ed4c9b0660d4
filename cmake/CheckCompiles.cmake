# Compiles each of SOURCES (a ;-list) with COMPILER and FLAGS (a ;-list) for the syntax only and
# fails on the first error or warning, naming the file. Run with cmake -P.
foreach(source ${SOURCES})
  execute_process(COMMAND ${COMPILER} ${FLAGS} -fsyntax-only ${source}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0 OR out MATCHES "warning:")
    message(FATAL_ERROR "${source} does not compile for the target system:\n${out}")
  endif()
endforeach()
list(LENGTH SOURCES count)
message(STATUS "${count} files compile for the target system")
