# Runs at install time (cmake --install, make install, CPack), with the
# CFGADM_* variables set by Install.cmake and CMAKE_INSTALL_PREFIX as given
# then. file(INSTALL) puts $ENV{DESTDIR} in front of every destination.
cmake_policy(VERSION 3.20)

set(prefix "${CMAKE_INSTALL_PREFIX}")
# Where /etc and the unit directory are for this prefix, as Debian has them.
if(prefix STREQUAL "/usr" OR prefix STREQUAL "/")
  set(sysconfdir "/etc")
  set(unitdir "/lib/systemd/system")
else()
  set(sysconfdir "${prefix}/etc")
  set(unitdir "${prefix}/lib/systemd/system")
endif()
set(bindir "${prefix}/${CFGADM_BINDIR}")
set(libdir "${prefix}/${CFGADM_LIBDIR}")
set(includedir "${prefix}/${CFGADM_INCLUDEDIR}/config_adm")
# Files configured here are kept apart per destination: two installs may run
# at the same time (the install and package tests).
string(MD5 stamp "$ENV{DESTDIR}|${prefix}")
set(work "${CFGADM_BINARY_DIR}/install-time/${stamp}")

# ---- public headers: every module header that marks something CFGADM_EXPORT,
# and the headers those include, followed to the end. A header of the
# stand-in (host/) in that closure is an error: platform programs bring their
# own platform.
set(queue)
foreach(dir properties message admin config util platform)
  file(GLOB headers RELATIVE "${CFGADM_SOURCE_DIR}" "${CFGADM_SOURCE_DIR}/${dir}/*.h")
  foreach(header ${headers})
    file(STRINGS "${CFGADM_SOURCE_DIR}/${header}" exported REGEX "CFGADM_EXPORT")
    if(exported)
      list(APPEND queue "${header}")
    endif()
  endforeach()
endforeach()
set(public)
while(queue)
  list(POP_FRONT queue header)
  if(header IN_LIST public)
    continue()
  endif()
  list(APPEND public "${header}")
  file(STRINGS "${CFGADM_SOURCE_DIR}/${header}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${includes})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
    if(included MATCHES "^host/")
      message(FATAL_ERROR "public header ${header} includes ${included}, a header of the stand-in")
    elseif(NOT EXISTS "${CFGADM_SOURCE_DIR}/${included}")
      message(FATAL_ERROR "public header ${header} includes ${included}, not in the source tree")
    endif()
    list(APPEND queue "${included}")
  endforeach()
endwhile()
list(SORT public)
foreach(header ${public})
  get_filename_component(subdir "${header}" DIRECTORY)
  file(INSTALL DESTINATION "${includedir}/${subdir}" TYPE FILE
       FILES "${CFGADM_SOURCE_DIR}/${header}")
endforeach()
file(INSTALL DESTINATION "${includedir}" TYPE FILE
     FILES "${CFGADM_GENERATED_DIR}/config_adm_version.h")

# ---- config_adm.pc
configure_file("${CFGADM_SOURCE_DIR}/packaging/config_adm.pc.in" "${work}/config_adm.pc" @ONLY)
file(INSTALL DESTINATION "${libdir}/pkgconfig" TYPE FILE FILES "${work}/config_adm.pc")

# ---- the default file and the units of the programs that are installed
# (packaging/systemd/PROGRAM.service.in, PROGRAM@.service.in, and units of a
# program's tasks, PROGRAM-TASK.service.in and .timer.in).
configure_file("${CFGADM_SOURCE_DIR}/packaging/default/vmplatform.in" "${work}/vmplatform" @ONLY)
file(INSTALL DESTINATION "${sysconfdir}/default" TYPE FILE FILES "${work}/vmplatform")
foreach(program ${CFGADM_PROGRAMS})
  file(GLOB units RELATIVE "${CFGADM_SOURCE_DIR}/packaging/systemd"
       "${CFGADM_SOURCE_DIR}/packaging/systemd/${program}.service.in"
       "${CFGADM_SOURCE_DIR}/packaging/systemd/${program}@.service.in"
       "${CFGADM_SOURCE_DIR}/packaging/systemd/${program}-*.in")
  foreach(source ${units})
    string(REGEX REPLACE "\\.in$" "" unit "${source}")
    configure_file("${CFGADM_SOURCE_DIR}/packaging/systemd/${source}" "${work}/${unit}" @ONLY)
    file(INSTALL DESTINATION "${unitdir}" TYPE FILE FILES "${work}/${unit}")
  endforeach()
endforeach()
