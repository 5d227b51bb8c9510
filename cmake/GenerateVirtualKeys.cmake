# Turns resources/keys/virtual_keys.tsv into the C++ tables behind
# src/platform/virtual_keys.h. Run at build time:
#   cmake -DINPUT=virtual_keys.tsv -DOUTPUT=virtual_keys_table.cpp -P GenerateVirtualKeys.cmake
# Every row is checked here, so a bad edit fails the build with the line that is wrong
# instead of producing a table that maps a key to the wrong thing.

if(NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "GenerateVirtualKeys: INPUT and OUTPUT must be set")
endif()

file(READ "${INPUT}" content)
# CMake lists split on ';', treat '[' ']' as nesting and a backslash as an escape, and the char
# column may hold any of them: park them before turning lines into a list, restore them
# per field.
string(REPLACE "\\" "<BSL>" content "${content}")
string(REPLACE ";" "<SEMI>" content "${content}")
string(REPLACE "[" "<LBR>" content "${content}")
string(REPLACE "]" "<RBR>" content "${content}")
string(REPLACE "\r" "" content "${content}")
string(REPLACE "\n" ";" lines "${content}")

function(_vk_fail lineno text)
  message(FATAL_ERROR "${INPUT}:${lineno}: ${text}")
endfunction()

function(_vk_restore out value)
  string(REPLACE "<SEMI>" ";" value "${value}")
  string(REPLACE "<BSL>" "\\" value "${value}")
  string(REPLACE "<LBR>" "[" value "${value}")
  string(REPLACE "<RBR>" "]" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

set(expected_columns "vk;name;winname;keysym_name;keysym;evdev_name;evdev;scan;char")
set(header_seen FALSE)
set(lineno 0)
set(rows "")
set(index_entries "")
set(seen_names "")
set(prev_vk -1)
set(row_count 0)

foreach(line IN LISTS lines)
  math(EXPR lineno "${lineno} + 1")
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  string(REPLACE "\t" ";" fields "${line}")
  list(LENGTH fields nfields)
  if(NOT header_seen)
    if(NOT fields STREQUAL expected_columns)
      _vk_fail(${lineno} "header must be the columns: ${expected_columns}")
    endif()
    set(header_seen TRUE)
    continue()
  endif()
  if(NOT nfields EQUAL 9)
    _vk_fail(${lineno} "expected 9 tab-separated columns, found ${nfields}")
  endif()
  list(GET fields 0 vk_text)
  list(GET fields 1 name)
  list(GET fields 2 winname)
  list(GET fields 3 keysym_name)
  list(GET fields 4 keysym_text)
  list(GET fields 5 evdev_name)
  list(GET fields 6 evdev_text)
  list(GET fields 7 scan_text)
  list(GET fields 8 char_text)
  _vk_restore(char_text "${char_text}")

  if(NOT vk_text MATCHES "^0x[0-9A-Fa-f][0-9A-Fa-f]$")
    _vk_fail(${lineno} "vk '${vk_text}' is not two hex digits")
  endif()
  math(EXPR vk "${vk_text}")
  if(vk LESS 1 OR vk GREATER 254)
    _vk_fail(${lineno} "vk ${vk_text} out of 0x01-0xFE")
  endif()
  if(NOT vk GREATER prev_vk)
    _vk_fail(${lineno} "vk ${vk_text} not in ascending order or repeated")
  endif()
  set(prev_vk ${vk})

  if(NOT name MATCHES "^[A-Za-z0-9]+$")
    _vk_fail(${lineno} "name '${name}' must be letters and digits only")
  endif()
  string(TOUPPER "${name}" name_upper)
  list(FIND seen_names "${name_upper}" dup)
  if(NOT dup EQUAL -1)
    _vk_fail(${lineno} "name '${name}' repeats an earlier name (case ignored)")
  endif()
  list(APPEND seen_names "${name_upper}")

  if(NOT winname MATCHES "^VK_[A-Z0-9_]+$")
    _vk_fail(${lineno} "winname '${winname}' is not a VK_ constant")
  endif()

  if(NOT keysym_text MATCHES "^0x[0-9A-Fa-f]+$")
    _vk_fail(${lineno} "keysym '${keysym_text}' is not hex")
  endif()
  math(EXPR keysym "${keysym_text}" OUTPUT_FORMAT HEXADECIMAL)
  if(keysym_name STREQUAL "-")
    if(NOT keysym EQUAL 0)
      _vk_fail(${lineno} "keysym without a keysym_name")
    endif()
  elseif(NOT keysym_name MATCHES "^[A-Za-z0-9_]+$" OR keysym EQUAL 0)
    _vk_fail(${lineno} "keysym_name '${keysym_name}' malformed or without value")
  endif()

  if(NOT evdev_text MATCHES "^[0-9]+$")
    _vk_fail(${lineno} "evdev '${evdev_text}' is not decimal")
  endif()
  if(evdev_text GREATER 767)
    _vk_fail(${lineno} "evdev ${evdev_text} beyond KEY_MAX")
  endif()
  if(evdev_name STREQUAL "-")
    if(NOT evdev_text EQUAL 0)
      _vk_fail(${lineno} "evdev value without an evdev_name")
    endif()
  elseif(NOT evdev_name MATCHES "^KEY_[A-Z0-9_]+$" OR evdev_text EQUAL 0)
    _vk_fail(${lineno} "evdev_name '${evdev_name}' malformed or without value")
  endif()

  if(NOT scan_text MATCHES "^0x[0-9A-Fa-f][0-9A-Fa-f]$")
    _vk_fail(${lineno} "scan '${scan_text}' is not two hex digits")
  endif()
  math(EXPR scan "${scan_text}" OUTPUT_FORMAT HEXADECIMAL)

  if(char_text STREQUAL "-")
    set(char_code "0x00")
  elseif(char_text MATCHES "^\\\\x([0-9A-Fa-f][0-9A-Fa-f])$")
    set(char_code "0x${CMAKE_MATCH_1}")
  else()
    string(LENGTH "${char_text}" char_len)
    if(NOT char_len EQUAL 1)
      _vk_fail(${lineno} "char '${char_text}' is neither one character, '-' nor \\xHH")
    endif()
    string(HEX "${char_text}" char_hex)
    math(EXPR char_value "0x${char_hex}")
    if(char_value LESS 33 OR char_value GREATER 126 OR char_text STREQUAL "\\")
      _vk_fail(${lineno} "char '${char_text}' must be written as \\xHH")
    endif()
    set(char_code "0x${char_hex}")
  endif()

  string(APPEND rows
    "    {${vk_text}, \"${name}\", \"${winname}\", ${keysym}u, ${evdev_text}u, ${scan}u, static_cast<char>(${char_code})},\n")
  list(APPEND index_entries "${vk}:${row_count}")
  math(EXPR row_count "${row_count} + 1")
endforeach()

if(NOT header_seen OR row_count EQUAL 0)
  message(FATAL_ERROR "${INPUT}: no header or no rows")
endif()

# The 256-entry index: row number + 1 per code, 0 for a code without a row.
set(index_values "")
foreach(i RANGE 0 255)
  set(slot 0)
  foreach(entry IN LISTS index_entries)
    if(entry MATCHES "^${i}:([0-9]+)$")
      math(EXPR slot "${CMAKE_MATCH_1} + 1")
      break()
    endif()
  endforeach()
  string(APPEND index_values "${slot},")
  math(EXPR col "(${i} + 1) % 16")
  if(col EQUAL 0)
    string(APPEND index_values "\n    ")
  else()
    string(APPEND index_values " ")
  endif()
endforeach()

set(text "// Generated from resources/keys/virtual_keys.tsv by cmake/GenerateVirtualKeys.cmake.
// Do not edit: change the data file instead.

#include \"platform/keys/virtual_keys_table.h\"

namespace orb::platform::detail {

const VirtualKeyInfo kVirtualKeyRows[] = {
${rows}};

const std::size_t kVirtualKeyRowCount = ${row_count};

const std::uint8_t kVirtualKeyIndex[256] = {
    ${index_values}};

}  // namespace orb::platform::detail
")
# Rewrite only on change, so an unrelated reconfigure does not recompile.
set(tmp "${OUTPUT}.tmp")
file(WRITE "${tmp}" "${text}")
file(COPY_FILE "${tmp}" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${tmp}")
