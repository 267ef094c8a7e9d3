# The Debian package: `cpack -G DEB` in the build directory packs what `cmake --install`
# lays out, under /usr. Its dependencies come from the libraries the program and the archivers
# link (dpkg-shlibdeps), which must also see the archivers' private directory.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrun)
set(CPACK_PACKAGE_VENDOR Tavrun)
set(CPACK_PACKAGE_CONTACT "Tavrun <tavrun@tavrun.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "compress or extract every file of a folder in one batch (LZH, ZIP)")
set(CPACK_PACKAGE_DESCRIPTION "Tavrun compresses every plain file of a folder into an LZH \
or ZIP archive of its own, or extracts every archive of a folder, in one batch. Its window \
and messages are in Japanese.")
set(CPACK_PACKAGE_HOMEPAGE_URL https://tavrun.example.org/)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${TAVRUN_COMPONENT_DIR})
# The log and the readme open in the desktop's own program.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
include(CPack)
