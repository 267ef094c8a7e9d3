# Read by cpack when it starts (CPACK_PROJECT_CONFIG_FILE): the Debian package's Depends from
# the shared libraries that the program, its command-line front end and the archivers link.
# The archivers' private directory is searched too, so libzip32j.so's link to libzip32.so is
# known to be the package's own.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
file(REMOVE_RECURSE "${TAVRUN_SHLIBDEPS_DIR}")
file(MAKE_DIRECTORY "${TAVRUN_SHLIBDEPS_DIR}/debian")
# dpkg-shlibdeps wants to run in a source package's top directory.
file(WRITE "${TAVRUN_SHLIBDEPS_DIR}/debian/control" "")
set(_arguments -O "-l${TAVRUN_PRIVATE_DIR}")
foreach(file IN LISTS TAVRUN_ELF_FILES)
  list(APPEND _arguments "-e${file}")
endforeach()
execute_process(
  COMMAND dpkg-shlibdeps ${_arguments}
  WORKING_DIRECTORY "${TAVRUN_SHLIBDEPS_DIR}"
  OUTPUT_VARIABLE _substvars
  ERROR_VARIABLE _errors
  RESULT_VARIABLE _result)
if(NOT _result EQUAL 0)
  message(FATAL_ERROR "dpkg-shlibdeps failed (${_result}):\n${_errors}")
endif()
if(NOT _substvars MATCHES "shlibs:Depends=([^\n]+)")
  message(FATAL_ERROR "dpkg-shlibdeps found no dependencies:\n${_substvars}${_errors}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
