# SPDX-License-Identifier: MIT
# What `cmake --install` puts under the prefix, and the Debian package that
# CPack makes of it (scripts/package.sh).
include(GNUInstallDirs)

install(TARGETS zrvmon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  return()
endif()
install(TARGETS zrvsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS scripts/plot.sh DESTINATION ${CMAKE_INSTALL_BINDIR}
        RENAME zrvmon-plot)
# Units belong to the system manager's own folder whatever the prefix.
install(FILES service/zrvmon@.service DESTINATION lib/systemd/system)

# Manual pages and change logs go compressed, reproducibly (no name, no
# time in the gzip header).
find_program(ZRV_GZIP gzip REQUIRED)
option(ZRV_DEB "Install the files a Debian package needs beside the docs" OFF)
set(_docs ${CMAKE_BINARY_DIR}/docs)
set(_compressed)
function(zrv_gzip source target)
  add_custom_command(OUTPUT ${_docs}/${target}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_docs}
    COMMAND ${ZRV_GZIP} -9nc ${PROJECT_SOURCE_DIR}/${source} > ${_docs}/${target}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
  set(_compressed ${_compressed} ${_docs}/${target} PARENT_SCOPE)
endfunction()
foreach(_page zrvmon zrvsim zrvmon-plot)
  zrv_gzip(docs/man/${_page}.1 ${_page}.1.gz)
endforeach()
zrv_gzip(CHANGELOG.md changelog.gz)
if(ZRV_DEB)
  zrv_gzip(packaging/debian/changelog changelog.Debian.gz)
endif()
add_custom_target(zrv_docs ALL DEPENDS ${_compressed})

install(FILES ${_docs}/zrvmon.1.gz ${_docs}/zrvsim.1.gz ${_docs}/zrvmon-plot.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md ${_docs}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES service/zrvmon.rules.yml service/zrvmon.rules.test.yml
              service/prometheus.yml service/cell-7.conf.example
              service/ser2net.yaml.example service/zrvmon.logrotate
              service/mosquitto-bridge.conf.example
              service/zrvmon-mqtt-password.conf.example
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
if(ZRV_DEB)
  install(FILES packaging/debian/copyright ${_docs}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES packaging/debian/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME zrvmon)
  # logrotate reads only /etc, whatever the prefix; the file is the
  # administrator's to change, kept across upgrades.
  install(FILES service/zrvmon.logrotate DESTINATION /etc/logrotate.d
          RENAME zrvmon)
  file(WRITE ${CMAKE_BINARY_DIR}/conffiles "/etc/logrotate.d/zrvmon\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/conffiles)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zrvmon)
set(CPACK_PACKAGE_VENDOR "the zrvmon authors")
set(CPACK_PACKAGE_CONTACT "the zrvmon authors <zrvmon@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "monitor for the controller of a ZRV climate unit")
set(CPACK_PACKAGE_DESCRIPTION
    "zrvmon polls the programmable controller of a ZRV climate unit over a
serial line or a serial device server and shows temperature, humidity and
CO2 with their set points, the status indicators and the operating counters
on a full-screen text display. It can reset the counters, open a raw command
terminal, keep a reading log and plot it, and run unattended as one service
per unit, with Prometheus metrics for node exporter's textfile collector.
zrvsim, a controller simulator, comes with it.")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS gnuplot-nox)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "prometheus-node-exporter, ser2net")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/dist)
include(CPack)
