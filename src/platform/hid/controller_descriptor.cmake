# Compiles resources/hid/controller_descriptor.hex into a C++ array at configure time; a
# change to the hex file makes CMake configure again.
set(ORB_CONTROLLER_HEX ${PROJECT_SOURCE_DIR}/resources/hid/controller_descriptor.hex)
set(ORB_CONTROLLER_CPP ${CMAKE_CURRENT_BINARY_DIR}/generated/controller_descriptor.cpp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ORB_CONTROLLER_HEX})
file(STRINGS ${ORB_CONTROLLER_HEX} orb_hex_lines)
set(orb_hex_bytes "")
foreach(orb_line IN LISTS orb_hex_lines)
  string(REGEX REPLACE "#.*$" "" orb_line "${orb_line}")
  string(REGEX MATCHALL "[0-9A-Fa-f][0-9A-Fa-f]" orb_pairs "${orb_line}")
  foreach(orb_pair IN LISTS orb_pairs)
    string(APPEND orb_hex_bytes "0x${orb_pair}, ")
  endforeach()
endforeach()
file(CONFIGURE OUTPUT ${ORB_CONTROLLER_CPP} CONTENT
"// Generated from resources/hid/controller_descriptor.hex; do not edit.
#include \"platform/hid/controller_descriptor.h\"

namespace orb::platform {

const std::uint8_t kControllerDescriptor[] = {@orb_hex_bytes@};
const std::size_t kControllerDescriptorSize = sizeof kControllerDescriptor;

}  // namespace orb::platform
" @ONLY)
