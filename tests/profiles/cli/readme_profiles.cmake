# cmake -DTABLEC=orbtablec -DTABLE=default_en.dat -DREADME=README.md -P readme_profiles.cmake
# README's list of built-in profiles must be what `orbctl table markdown` makes of the
# English default table, between its two marker lines.
execute_process(COMMAND ${TABLEC} markdown ${TABLE} RESULT_VARIABLE result OUTPUT_VARIABLE generated
                ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "orbtablec markdown failed (${result}): ${error}")
endif()
file(READ ${README} readme)
set(begin "<!-- built-in profiles: begin -->\n")
set(end "<!-- built-in profiles: end -->")
string(FIND "${readme}" "${begin}" nBegin)
string(FIND "${readme}" "${end}" nEnd)
if(nBegin EQUAL -1 OR nEnd EQUAL -1 OR nEnd LESS nBegin)
  message(FATAL_ERROR "README.md has no '${begin}' ... '${end}' section")
endif()
string(LENGTH "${begin}" nBeginLength)
math(EXPR nStart "${nBegin} + ${nBeginLength}")
math(EXPR nLength "${nEnd} - ${nStart}")
string(SUBSTRING "${readme}" ${nStart} ${nLength} current)
if(NOT current STREQUAL generated)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/readme_profiles.md "${generated}")
  message(FATAL_ERROR "README.md's built-in profiles differ from the default table: put the text of "
                      "${CMAKE_CURRENT_BINARY_DIR}/readme_profiles.md (`orbctl table markdown` of "
                      "${TABLE}) between the marker lines")
endif()
