# Run by cmake --install (and CPack): writes the service units, the log
# rotation rule and the service document with the paths of this install,
# CMAKE_INSTALL_PREFIX as given then, and installs them. The directories come
# as the build's relative ones; /etc and /var serve the prefix /usr, as
# GNUInstallDirs has it.

# The full path of an install directory given relative to the prefix.
function(tintbeacon_full_path out relative system_wide)
  if(IS_ABSOLUTE "${relative}")
    set(path "${relative}")
  elseif(system_wide AND CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(path "/${relative}")
  else()
    set(path "${CMAKE_INSTALL_PREFIX}/${relative}")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

tintbeacon_full_path(TINTBEACON_BINDIR "${TINTBEACON_RELATIVE_BINDIR}" FALSE)
tintbeacon_full_path(TINTBEACON_DOCDIR "${TINTBEACON_RELATIVE_DOCDIR}" FALSE)
tintbeacon_full_path(sysconfdir "${TINTBEACON_RELATIVE_SYSCONFDIR}" TRUE)
tintbeacon_full_path(localstatedir "${TINTBEACON_RELATIVE_LOCALSTATEDIR}" TRUE)
set(TINTBEACON_STATE_DIR "${localstatedir}/lib/tintbeacon")
set(TINTBEACON_LOGROTATE_DIR "${sysconfdir}/logrotate.d")
# systemd looks in /usr/lib/systemd/system and /usr/local/lib/systemd/system.
set(TINTBEACON_UNIT_DIR "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")

set(written "${TINTBEACON_WRITTEN_DIR}")
foreach(name tintbeacon.service tintbeacon-world.service running-as-a-service.md)
  configure_file("${TINTBEACON_SOURCE_DIR}/docs/${name}.in" "${written}/${name}" @ONLY)
endforeach()
configure_file("${TINTBEACON_SOURCE_DIR}/packaging/logrotate.in" "${written}/logrotate/tintbeacon"
               @ONLY)

file(INSTALL DESTINATION "${TINTBEACON_UNIT_DIR}" TYPE FILE
     FILES "${written}/tintbeacon.service" "${written}/tintbeacon-world.service")
file(INSTALL DESTINATION "${TINTBEACON_LOGROTATE_DIR}" TYPE FILE
     FILES "${written}/logrotate/tintbeacon")
file(INSTALL DESTINATION "${TINTBEACON_DOCDIR}" TYPE FILE
     FILES "${written}/running-as-a-service.md")
