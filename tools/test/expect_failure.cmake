# Runs TOOL on LIST and expects it to fail naming the bad line, without writing OUTPUT.
file(REMOVE ${OUTPUT})
execute_process(COMMAND ${TOOL} ${LIST} ${OUTPUT} RESULT_VARIABLE result ERROR_VARIABLE error)
set(expected "tollwick-urldb: ${LIST}: line 3: category '33' is not a number from 1 to 32\n")
if(NOT result EQUAL 1 OR NOT error STREQUAL expected OR EXISTS ${OUTPUT})
  message(FATAL_ERROR "exit ${result}, message: ${error}")
endif()
