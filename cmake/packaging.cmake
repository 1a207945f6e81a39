# What `cmake --install` puts where, and the packages CPack makes of it: on
# Linux a Debian package, in the MinGW-w64 build a zip for Windows.
#   cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-release -j2 && (cd build-release && cpack)

set(CPACK_PACKAGE_NAME tintbeacon)
set(CPACK_PACKAGE_VENDOR "Tintbeacon developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "chat-relay bot for a 3D virtual world, with its world server and avatar client")
set(CPACK_PACKAGE_CONTACT "Tintbeacon maintainers <maintainers@tintbeacon.invalid>")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The zip: the three programs and a README for Windows (CR LF, plain text).
  install(TARGETS tintbeacon tintbeacon-world tintbeacon-avatar RUNTIME DESTINATION .)
  configure_file(packaging/windows/README.txt.in ${CMAKE_BINARY_DIR}/packaging/README.txt @ONLY
                 NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tintbeacon-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
  return()
endif()

# The units, the rotation rule and the service document name the paths of the
# install: they are written when installing, for the prefix given then
# (cmake --install --prefix, or CPack's), by cmake/install_configured.cmake.
install(CODE "
  set(TINTBEACON_SOURCE_DIR \"${CMAKE_CURRENT_SOURCE_DIR}\")
  set(TINTBEACON_WRITTEN_DIR \"${CMAKE_BINARY_DIR}/packaging/installed\")
  set(TINTBEACON_RELATIVE_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(TINTBEACON_RELATIVE_DOCDIR \"${CMAKE_INSTALL_DOCDIR}\")
  set(TINTBEACON_RELATIVE_SYSCONFDIR \"${CMAKE_INSTALL_SYSCONFDIR}\")
  set(TINTBEACON_RELATIVE_LOCALSTATEDIR \"${CMAKE_INSTALL_LOCALSTATEDIR}\")
")
install(SCRIPT cmake/install_configured.cmake)

# The documents and manual pages, the same for every prefix. Debian keeps the
# change log and the manual pages compressed, with no time stamp in the gzip
# header so that two builds give the same bytes.
set(generated ${CMAKE_BINARY_DIR}/packaging)
set(TINTBEACON_MAINTAINER ${CPACK_PACKAGE_CONTACT})
configure_file(packaging/debian/changelog.in ${generated}/changelog @ONLY)
set(compressed ${generated}/changelog)
foreach(page tintbeacon tintbeacon-world tintbeacon-avatar)
  configure_file(packaging/man/${page}.1.in ${generated}/man/${page}.1 @ONLY)
  list(APPEND compressed ${generated}/man/${page}.1)
endforeach()
set(compressed_outputs)
foreach(file ${compressed})
  add_custom_command(OUTPUT ${file}.gz COMMAND gzip -9nkf ${file} DEPENDS ${file}
                     COMMENT "Compressing ${file}")
  list(APPEND compressed_outputs ${file}.gz)
endforeach()
add_custom_target(tintbeacon_compressed_docs ALL DEPENDS ${compressed_outputs})

install(TARGETS tintbeacon tintbeacon-world tintbeacon-avatar
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md docs/world-protocol.md packaging/debian/copyright ${generated}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${generated}/man/tintbeacon.1.gz ${generated}/man/tintbeacon-world.1.gz
              ${generated}/man/tintbeacon-avatar.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package always installs under /usr, whatever the build's own
# prefix: the bot's directory is then /var/lib/tintbeacon and the rotation
# rule /etc/logrotate.d/tintbeacon, which its maintainer scripts name.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(TINTBEACON_STATE_DIR /var/lib/tintbeacon)
configure_file(packaging/debian/postinst.in ${generated}/debian/postinst @ONLY)
file(WRITE ${generated}/debian/conffiles "/etc/logrotate.d/tintbeacon\n")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries' packages come from dpkg-shlibdeps; adduser makes the user.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS logrotate)
# The extended description; CPack puts the summary above it as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The bot logs into one world, stands at a fixed spot and relays every public
chat line it hears, in the speaker's chosen color, to the avatars beyond
hearing range. The package holds the bot (tintbeacon), its own world server
(tintbeacon-world) and an avatar client (tintbeacon-avatar), with service
units for the bot and the world and a rotation rule for the bot's chat log.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${generated}/debian/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/postrm ${generated}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
