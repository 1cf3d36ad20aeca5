# The Debian package (make deb: cpack -G DEB in the build tree) and the
# package test. Included from CMakeLists.txt after Install.cmake: the package
# holds exactly what `cmake --install` installs under /usr (and /etc, /lib).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME config-adm)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "voice-messaging platform team")
set(CPACK_PACKAGE_CONTACT "Voice-messaging platform team <vmplatform@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "configuration administration module of the voice-messaging platform")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The configuration administration module (libconfig_adm.so) of a voice-messaging
platform: typed, access-controlled property sets stored as files or B-tree
records, the configuration-parameter reader and the remote update to a
property owner box. With the platform stand-in libvmplatform.so, the
administration program vmcfg, the owner-box daemon vmpropd (systemd unit
vmpropd@BOX.service), the web administration console vmadmd (vmadmd.service),
the feature command mkgf_act, the headers and config_adm.pc for platform
programs.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The Debian revision: the package is built from an upstream version, and its
# changelog (packaging/debian/changelog) names it.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# Everything goes through DESTDIR, so /etc and /lib destinations land in the
# package, and the install-time files see the prefix /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

# Dependencies: dpkg-shlibdeps finds the libraries the binaries link (libc6,
# libstdc++6, libtre5, liblmdb0, liburing2, and libsqlite3-0 once the platform links
# SQLite); adduser is for postinst. Until vmplatform links SQLite, libsqlite3-0
# is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
get_target_property(cfgadm_platform_links vmplatform LINK_LIBRARIES)
string(TOLOWER "${cfgadm_platform_links}" cfgadm_platform_links)
if(NOT cfgadm_platform_links MATCHES "sqlite")
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libsqlite3-0")
endif()
# The programs need the package's own libraries: dpkg-shlibdeps finds them
# in the staging tree (set in CPackProjectConfig.cmake, at cpack time).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
file(WRITE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake
     "set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS \"\${CPACK_TEMPORARY_DIRECTORY}/usr/${CMAKE_INSTALL_LIBDIR}\")\n")

# Maintainer scripts, conffiles, the ldconfig trigger.
set(cfgadm_control ${CMAKE_BINARY_DIR}/debian-control)
foreach(script postinst prerm postrm)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/${script}.in ${cfgadm_control}/${script}
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                 GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
foreach(file conffiles triggers)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/${file} ${cfgadm_control}/${file} COPYONLY)
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${cfgadm_control}/postinst ${cfgadm_control}/prerm ${cfgadm_control}/postrm
    ${cfgadm_control}/conffiles ${cfgadm_control}/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

# The copyright and the Debian changelog (gzip -9n, as Debian ships it) in
# /usr/share/doc/<package>, with every install.
set(cfgadm_docdir ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
set(cfgadm_changelog ${CMAKE_SOURCE_DIR}/packaging/debian/changelog)
file(STRINGS ${cfgadm_changelog} cfgadm_changelog_top LIMIT_COUNT 1)
set(cfgadm_deb_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
if(NOT cfgadm_changelog_top MATCHES "^${CPACK_PACKAGE_NAME} \\(${cfgadm_deb_version}\\) ")
  message(WARNING "packaging/debian/changelog does not start with version ${cfgadm_deb_version}: "
                  "add an entry for it")
endif()
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/debian-doc/changelog.Debian.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/debian-doc
  COMMAND ${GZIP} -9n -c ${cfgadm_changelog} > ${CMAKE_BINARY_DIR}/debian-doc/changelog.Debian.gz
  DEPENDS ${cfgadm_changelog} COMMENT "Debian changelog")
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian-doc/changelog.Debian.gz)
add_dependencies(shipped debian_changelog)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/copyright
              ${CMAKE_BINARY_DIR}/debian-doc/changelog.Debian.gz
        DESTINATION ${cfgadm_docdir})
# What lintian reports that is so on purpose, with the reasons.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${CPACK_PACKAGE_NAME})

include(CPack)

# ---- the package test: root only (exit 77 = skipped, with the reason).
add_test(NAME install.package
         COMMAND ${CMAKE_SOURCE_DIR}/tests/install/package_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(install.package PROPERTIES
  SKIP_RETURN_CODE 77
  TIMEOUT 600
  ENVIRONMENT "CFGADM_SANITIZE=${CFGADM_SANITIZE};CFGADM_VERSION=${PROJECT_VERSION};CFGADM_PACKAGE=${CPACK_PACKAGE_NAME}")
