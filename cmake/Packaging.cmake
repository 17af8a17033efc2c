# A Debian package of everything `cmake --install` puts in place, plus what
# only a package carries (copyright, changelog, lintian overrides, the
# service's options file in /etc/default, the maintainer scripts; all in
# dist/debian): `cpack -G DEB` in a build folder configured with
# -DCMAKE_INSTALL_PREFIX=/usr.
set(RAID_PACKAGE_MAINTAINER "RAID enclosure manager maintainers <maintainers@raid-monitor.example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(RAID_DEB_PACKAGE raid-monitor)
set(RAID_DEB_RELEASE 1)
set(RAID_DEB_VERSION ${PROJECT_VERSION}-${RAID_DEB_RELEASE})
set(_debian ${PROJECT_SOURCE_DIR}/dist/debian)
set(_staged ${PROJECT_BINARY_DIR}/debian)
set(_doc ${CMAKE_INSTALL_DATADIR}/doc/${RAID_DEB_PACKAGE})

configure_file(${_debian}/changelog.in ${_staged}/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${_staged}/changelog.Debian.gz
  COMMAND gzip -9nc ${_staged}/changelog.Debian > ${_staged}/changelog.Debian.gz
  DEPENDS ${_staged}/changelog.Debian VERBATIM)
add_custom_target(raid_deb_changelog ALL DEPENDS ${_staged}/changelog.Debian.gz)

# Only in the package: a plain `cmake --install` leaves these out.
install(FILES ${_debian}/copyright ${_staged}/changelog.Debian.gz DESTINATION ${_doc}
        COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${_debian}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME ${RAID_DEB_PACKAGE} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${_debian}/default DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default
        RENAME ${RAID_DEB_PACKAGE} COMPONENT debian EXCLUDE_FROM_ALL)
file(WRITE ${_staged}/conffiles "${CMAKE_INSTALL_FULL_SYSCONFDIR}/default/${RAID_DEB_PACKAGE}\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${RAID_DEB_PACKAGE})
set(CPACK_PACKAGE_VENDOR "RAID enclosure manager developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "manage two-bay RAID enclosures: service, window and command line")
set(CPACK_PACKAGE_DESCRIPTION [=[
Finds external two-bay RAID enclosures among the machine's disks and talks
to each enclosure's bridge controller through ordinary one-sector reads:
array and member status, rebuild progress, fan and temperature, SMART of
the member disks, a daily event log, e-mail notification, the buzzer and
schedule-backup settings, and controller firmware upgrade.

raid-monitor.service (raidctl monitor) owns the enclosures and serves them
on the system bus, asking polkit who may do what; the window raidgui and
the command line raidctl are its clients and run as any user.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Unspecified debian)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME ${RAID_DEB_PACKAGE})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${RAID_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${RAID_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries through dpkg-shlibdeps; the bus and polkit that the service
# and its clients meet at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "dbus, polkitd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${_debian}/postinst ${_debian}/prerm ${_debian}/postrm ${_staged}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# The unit and the programs name the install prefix: a package needs /usr.
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/RequireUsrPrefix.cmake)
endif()
include(CPack)
