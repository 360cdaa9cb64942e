# Install rules and the Debian package (CPack).
#
#   cmake --install build [--prefix /usr/local]   binary, manual page, completion,
#                                                  copyright file
#   cd build && cpack                              sarvek_<version>_<arch>.deb
include(GNUInstallDirs)

install(TARGETS sarvek RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Debian installs manual pages compressed with gzip -9n (no name, no time
# stamp, so the package is reproducible).
find_program(SARVEK_GZIP gzip)
# The page carries the project's version: made from doc/sarvek.1.in.
set(sarvek_man_page ${CMAKE_CURRENT_BINARY_DIR}/sarvek.1)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/doc/sarvek.1.in ${sarvek_man_page} @ONLY)
if(SARVEK_GZIP)
  add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/sarvek.1.gz
    COMMAND ${SARVEK_GZIP} -9n -c ${sarvek_man_page} > ${CMAKE_CURRENT_BINARY_DIR}/sarvek.1.gz
    DEPENDS ${sarvek_man_page}
    COMMENT "Compressing the manual page")
  add_custom_target(man_page ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/sarvek.1.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/sarvek.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES ${sarvek_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/completion/sarvek
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The licence in Debian's machine-readable form: /usr/share/doc/sarvek/copyright.
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/doc/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sarvek)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sarvek)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "sarvek developers")
set(CPACK_PACKAGE_CONTACT "sarvek developers <sarvek-dev@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "carve table rows out of SQLite 3 database files")
set(CPACK_PACKAGE_DESCRIPTION
  "sarvek is a forensic tool that pulls table rows out of an SQLite 3 database
file without the database engine. It searches the raw bytes of every page for
plausible table-leaf cells, so it also finds deleted rows on freelist pages and
inside freeblocks, and prints one comma-separated line per row. Blobs can be
written to numbered files. The input file is never written to.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "sarvek developers <sarvek-dev@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package holds the tool alone: the test programs' install rules (none
# today) stay out of it.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/")
include(CPack)
