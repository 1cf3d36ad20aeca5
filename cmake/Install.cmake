# Installation: the version, `make install` (cmake --install), the public
# headers, config_adm.pc, manual pages, bash completion, systemd units and
# /etc/default/vmplatform, and the install test. Included from CMakeLists.txt
# once the libraries and HOST_PROGRAM_TARGETS are defined.
#
# Paths that depend on the prefix (config_adm.pc, the units, the default file)
# are made at install time from the prefix given then, so one build tree serves
# `cmake --install build --prefix /usr/local`, a DESTDIR staging and CPack's
# /usr package alike.

# On Debian the multiarch directory is searched by the loader and pkg-config
# under /usr and /usr/local alike, so it is the library directory for both.
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR})
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}"
      CACHE PATH "Object code libraries (LIBDIR)")
endif()
include(GNUInstallDirs)

# ---- one version source: project(VERSION) -> config_adm_version.h, and
# config_adm_version() in the module for the version of the loaded library.
set(CFGADM_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/config_adm_version.h.in
               ${CFGADM_GENERATED_DIR}/config_adm_version.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/config_adm_version.cpp.in
               ${CFGADM_GENERATED_DIR}/config_adm_version.cpp @ONLY)
target_sources(config_adm_obj PRIVATE ${CFGADM_GENERATED_DIR}/config_adm_version.cpp)
# (the generated unit finds the header beside it; programs through config_adm)
target_include_directories(config_adm PUBLIC ${CFGADM_GENERATED_DIR})
# (vmcfg links nothing of the module but prints the version it was built from)
target_include_directories(host_common PUBLIC ${CFGADM_GENERATED_DIR})

# Installed programs find the platform's defaults file from where they are
# (PREFIX/bin -> PREFIX/etc/default, /usr/bin -> /etc/default): the prefix is
# only known at install time, the directory of programs under it now.
target_compile_definitions(host_common PRIVATE CFGADM_INSTALL_BINDIR="${CMAKE_INSTALL_BINDIR}")

set_target_properties(config_adm vmplatform PROPERTIES
                      VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})

# Installed programs and libraries find the package's libraries relative to
# themselves, so a tree installed under any prefix (or moved) runs without
# ldconfig or LD_LIBRARY_PATH. The libraries need it too: the platform
# library dlopens the module by name, which searches the caller's RUNPATH.
file(RELATIVE_PATH cfgadm_bin_to_lib "/${CMAKE_INSTALL_BINDIR}" "/${CMAKE_INSTALL_LIBDIR}")
set_target_properties(${HOST_PROGRAM_TARGETS} PROPERTIES
                      INSTALL_RPATH "$ORIGIN/${cfgadm_bin_to_lib}")
set_target_properties(config_adm vmplatform PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(vmcfg_commands vmadmd_api PROPERTIES INSTALL_RPATH "$ORIGIN/..")

# ---- libraries and every host program
install(TARGETS config_adm vmplatform LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS ${HOST_PROGRAM_TARGETS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# vmcfg's commands and vmadmd's module views: libraries without a SONAME,
# loaded by path, so in the module's private directory beside it
# (ModuleLibrary::kPrivateDirectory), not in the shared library directory.
install(TARGETS vmcfg_commands vmadmd_api
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/config_adm)

# ---- manual pages: man1 from each program's own --help (help2man), man5
# hand-written (packaging/man/*.5); gzip -9n as Debian ships them.
set(CFGADM_MAN_DIR ${CMAKE_BINARY_DIR}/man)
find_program(HELP2MAN help2man)
find_program(GZIP gzip REQUIRED)
set(CFGADM_MAN_PAGES)
if(HELP2MAN)
  foreach(prog ${HOST_PROGRAM_TARGETS})
    set(extra ${CMAKE_SOURCE_DIR}/packaging/man/${prog}.h2m)
    if(NOT EXISTS ${extra})
      set(extra "")
    endif()
    add_custom_command(
      OUTPUT ${CFGADM_MAN_DIR}/${prog}.1.gz
      COMMAND ${CMAKE_SOURCE_DIR}/packaging/man/help2man.sh ${HELP2MAN} $<TARGET_FILE:${prog}>
              ${prog} ${PROJECT_VERSION} ${CFGADM_MAN_DIR}/${prog}.1 ${extra}
      COMMAND ${GZIP} -9nf ${CFGADM_MAN_DIR}/${prog}.1
      DEPENDS ${prog} ${CMAKE_SOURCE_DIR}/packaging/man/help2man.sh ${extra}
      COMMENT "Manual page ${prog}(1)" VERBATIM)
    list(APPEND CFGADM_MAN_PAGES ${CFGADM_MAN_DIR}/${prog}.1.gz)
    install(FILES ${CFGADM_MAN_DIR}/${prog}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  message(WARNING "help2man not found (Debian package help2man, see scripts/setup.sh): "
                  "no man1 pages are built or installed")
endif()
file(GLOB CFGADM_MAN5_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/packaging/man/*.5)
foreach(page ${CFGADM_MAN5_SOURCES})
  get_filename_component(name ${page} NAME)
  add_custom_command(
    OUTPUT ${CFGADM_MAN_DIR}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CFGADM_MAN_DIR}
    COMMAND ${GZIP} -9n -c ${page} > ${CFGADM_MAN_DIR}/${name}.gz
    DEPENDS ${page} COMMENT "Manual page ${name}")
  list(APPEND CFGADM_MAN_PAGES ${CFGADM_MAN_DIR}/${name}.gz)
  install(FILES ${CFGADM_MAN_DIR}/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
endforeach()
add_custom_target(manpages ALL DEPENDS ${CFGADM_MAN_PAGES})

# ---- bash completion
foreach(prog ${HOST_PROGRAM_TARGETS})
  if(EXISTS ${CMAKE_SOURCE_DIR}/packaging/bash-completion/${prog})
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/bash-completion/${prog}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  endif()
endforeach()

# ---- install time: public headers (the closure of the exported ones),
# config_adm.pc, systemd units of the installed programs, the default file.
install(CODE "
  set(CFGADM_SOURCE_DIR \"${CMAKE_SOURCE_DIR}\")
  set(CFGADM_BINARY_DIR \"${CMAKE_BINARY_DIR}\")
  set(CFGADM_GENERATED_DIR \"${CFGADM_GENERATED_DIR}\")
  set(CFGADM_VERSION \"${PROJECT_VERSION}\")
  set(CFGADM_PROGRAMS \"${HOST_PROGRAM_TARGETS}\")
  set(CFGADM_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(CFGADM_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(CFGADM_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/InstallTime.cmake)

# ---- the install test: a DESTDIR staging, a program built with pkg-config
# only; the package test (root only) lives in Package.cmake.
set(CFGADM_TEST_FLAGS "")
if(CFGADM_SANITIZE)
  # A program linked to instrumented libraries needs the runtime first.
  set(CFGADM_TEST_FLAGS "-fsanitize=address,undefined")
endif()
add_test(NAME install.staged
         COMMAND ${CMAKE_SOURCE_DIR}/tests/install/install_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(install.staged PROPERTIES
  TIMEOUT 300
  ENVIRONMENT "CXX=${CMAKE_CXX_COMPILER};CFGADM_TEST_FLAGS=${CFGADM_TEST_FLAGS};CFGADM_VERSION=${PROJECT_VERSION}")

# ---- what make install and make deb build: the installed targets only,
# none of the tests and benchmarks (cmake --build BUILD --target shipped).
add_custom_target(shipped)
add_dependencies(shipped config_adm vmplatform vmcfg_commands vmadmd_api manpages
                 ${HOST_PROGRAM_TARGETS})
