# One golden case: `orbctl hid caps --hex INPUT` must print EXPECTED (a .json file) or,
# for a descriptor that must be refused, exit 1 with EXPECTED (a .err file) on stderr.
execute_process(COMMAND ${ORBCTL} hid caps --hex ${INPUT}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
file(READ ${EXPECTED} expected)
if(EXPECTED MATCHES "\\.err$")
  if(NOT rc EQUAL 1 OR NOT err STREQUAL expected)
    message(FATAL_ERROR "expected refusal (exit 1) with:\n${expected}\ngot exit ${rc} with:\n${err}")
  endif()
elseif(NOT rc EQUAL 0 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "exit ${rc}; output differs from ${EXPECTED}:\n${out}\n${err}")
endif()
