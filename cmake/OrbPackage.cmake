# The Debian package, made by CPack from the install target:
#   cmake --preset package && cmake --build --preset package --target package
# gives build/package/orb_<version>_<arch>.deb. The version is the project's.
#
# Only a build for /usr makes one: the udev rule, the launcher and the entries that name it
# are placed for the prefix they are built with, and a package installs under /usr.
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr" OR NOT ORB_BUILD_DESKTOP_DATA OR NOT ORB_BUILD_UI)
  return()
endif()

set(ORB_PACKAGE_MAINTAINER "ORB maintainers <maintainers@users.noreply.c-seed-86559aaf.example>"
    CACHE STRING "The Maintainer of the Debian package")

set(orb_deb ${PROJECT_BINARY_DIR}/deb)
file(READ ${PROJECT_SOURCE_DIR}/resources/deb/udev-apply.sh ORB_UDEV_APPLY)
foreach(script postinst postrm)
  configure_file(${PROJECT_SOURCE_DIR}/resources/deb/${script}.in ${orb_deb}/control/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
endforeach()
# dpkg keeps a user's edits of a file under /etc across upgrades only when it is listed.
file(WRITE ${orb_deb}/control/conffiles "${ORB_AUTOSTART_PATH}\n")

# /usr/share/doc/orb (the package's name, not the project's): the copyright and, for a package that is its own upstream, the
# changelog, compressed without a name or time inside.
set(ORB_COPYRIGHT_YEAR ${ORB_RELEASE_YEAR})
configure_file(${PROJECT_SOURCE_DIR}/resources/deb/copyright.in ${orb_deb}/doc/copyright @ONLY)
file(WRITE ${orb_deb}/doc/changelog
     "orb (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
     "  * Release ${PROJECT_VERSION}.\n\n"
     " -- ${ORB_PACKAGE_MAINTAINER}  ${ORB_RELEASE_TIME_RFC2822}\n")
add_custom_command(
  OUTPUT ${orb_deb}/doc/changelog.gz
  COMMAND ${ORB_GZIP} -9 -n -k -f ${orb_deb}/doc/changelog
  DEPENDS ${orb_deb}/doc/changelog
  VERBATIM)
# The editor link's protocol, for those who write an editor against an installed orb.
add_custom_command(
  OUTPUT ${orb_deb}/doc/LINK.md.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/LINK.md ${orb_deb}/doc/LINK.md
  COMMAND ${ORB_GZIP} -9 -n -f ${orb_deb}/doc/LINK.md
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/LINK.md
  VERBATIM)
add_custom_target(orb_package_doc ALL DEPENDS ${orb_deb}/doc/changelog.gz ${orb_deb}/doc/LINK.md.gz)
install(FILES ${orb_deb}/doc/copyright ${orb_deb}/doc/changelog.gz ${orb_deb}/doc/LINK.md.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/orb)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orb)
set(CPACK_PACKAGE_VENDOR TARN)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "jog/shuttle controller driver for video editors")
# CPack puts the summary on the Description line and indents the text below it, a blank
# line becoming " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "ORB turns the buttons and the wheel of a USB or Bluetooth jog/shuttle
controller into key strokes for the application in front, with one profile
per application; the wheel works as a jog wheel or as a shuttle ring. It
lives in the notification area and can start with the session.

The package gives the user at the seat access to the controller through
udev, and includes orbctl, a command-line tool for profile tables, HID
devices and the command engine.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ORB_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends comes from the shared libraries the programs link, and from the one plugin Qt
# loads by name rather than links: its Wayland platform, without which the window cannot
# open in a Wayland session that has no XWayland.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${orb_deb}/control/postinst ${orb_deb}/control/postrm
                                       ${orb_deb}/control/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
