# Runs one play scenario from its own folder and compares, byte for byte, what it printed:
#   cmake -DORBCTL=... -DTABLE=... -DDIR=... -DNAME=x -DACTUAL=out -P run_scenario.cmake
# x.play is the script. With x.expected, orbctl play must succeed and print exactly that;
# with x.stderr, it must refuse the script (status 2) with exactly that message.
# A first line "# args: ..." in the script gives orbctl play extra options.
file(STRINGS "${DIR}/${NAME}.play" first_line LIMIT_COUNT 1)
set(extra_args)
if(first_line MATCHES "^# args: (.*)$")
  separate_arguments(extra_args UNIX_COMMAND "${CMAKE_MATCH_1}")
endif()
execute_process(
  COMMAND "${ORBCTL}" play --table "${TABLE}" ${extra_args} "${NAME}.play"
  WORKING_DIRECTORY "${DIR}"
  OUTPUT_VARIABLE actual
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
if(EXISTS "${DIR}/${NAME}.stderr")
  set(expected_file "${DIR}/${NAME}.stderr")
  set(expected_status 2)
  set(actual "${errors}")
else()
  set(expected_file "${DIR}/${NAME}.expected")
  set(expected_status 0)
endif()
file(WRITE "${ACTUAL}" "${actual}")
if(NOT status EQUAL expected_status)
  message(FATAL_ERROR "orbctl play exited with ${status}, expected ${expected_status}: ${errors}")
endif()
file(READ "${expected_file}" expected)
if(NOT actual STREQUAL expected)
  execute_process(COMMAND diff -u "${expected_file}" "${ACTUAL}")
  message(FATAL_ERROR "the output differs from ${expected_file} (actual output: ${ACTUAL})")
endif()
