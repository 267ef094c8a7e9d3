# The Debian package: `cpack -G DEB` in the build directory packs what `cmake --install`
# lays out, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrun)
set(CPACK_PACKAGE_VENDOR "Tavrun developers")
set(CPACK_PACKAGE_CONTACT "Tavrun developers <dev@tavrun.jp>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "compress or extract every file of a folder in one batch (LZH, ZIP)")
# Lines of the long description stay within 80 columns, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION "\
Tavrun compresses every plain file of a folder into an LZH or ZIP archive of
its own, or extracts every archive of a folder, in one batch. Its window and
messages are in Japanese. The file managers Dolphin, Thunar and Nautilus (with
python3-nautilus) offer both on a folder; tavrun-cli runs the same batch from a
terminal.")
set(CPACK_PACKAGE_HOMEPAGE_URL https://tavrun.jp/)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The log and the readme open in the desktop's own program.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
# Nautilus loads the package's extension only through python3-nautilus.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS python3-nautilus)
# Directories and files as Debian expects them (0755 and 0644, owned by root).
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The dependencies come from the libraries the program and the archivers link, found by
# dpkg-shlibdeps when cpack starts (deb_depends.cmake). CPack's own SHLIBDEPS would do the
# same, but once it has listed the package's shared objects it adds ldconfig calls to the
# maintainer scripts for anything under usr/lib, and the archivers' directory is private:
# the dynamic loader never looks there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(_tavrun_elf_files $<TARGET_FILE:tavrun>)
foreach(target tavrun-cli unlha32 zip32 zip32j unzip32)
  if(TARGET ${target})
    list(APPEND _tavrun_elf_files $<TARGET_FILE:${target}>)
  endif()
endforeach()
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/deb_depends_config.cmake)
file(GENERATE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT "\
set(TAVRUN_ELF_FILES \"${_tavrun_elf_files}\")
set(TAVRUN_PRIVATE_DIR \"${TAVRUN_COMPONENT_DIR}\")
set(TAVRUN_SHLIBDEPS_DIR \"${CMAKE_CURRENT_BINARY_DIR}/shlibdeps\")
include(\"${CMAKE_CURRENT_SOURCE_DIR}/deb_depends.cmake\")
")
include(CPack)
