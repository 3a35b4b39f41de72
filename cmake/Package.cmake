# `make package`: the Debian package of what cmake/Install.cmake installs,
# made by CPack from a Release build (`make package`). The version is the
# project's; the library dependencies are found by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${CORVISTA_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Corvista 1000 maintenance tools team <tools@corvista1000.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Debian wants rwxr-xr-x folders whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libgsf is loaded at run time (dlopen), out of dpkg-shlibdeps' sight: its
# package by Debian's naming of a library package, libgsf-1.so.114 ->
# libgsf-1-114.
string(REGEX REPLACE "^(.*)\\.so\\.([0-9]+)$" "\\1-\\2" gsf_package "${GSF_SONAME}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${gsf_package}")
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Corvista 1000 analyser database maintenance tools")
# The extended description; CPack puts the summary above it, indents each
# line and turns the empty line into Debian's paragraph mark.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Two unattended programs keep the analyser database current: CatalogSync
brings assay definitions from a workbook or an assay package file into the
database, and Reshaper upgrades its schema to a new release from a shell
database. Both live in /usr/lib/corvista1000/, where a release's files are
dropped beside them.

Companion tools for service engineers are on the PATH: CatalogPackage
shows, builds and previews assay package files, ShellPackage checks a
shell database and previews an upgrade without touching any file, and
ChangeHistory lists, shows, verifies and prints the change history the two
programs keep: every run and every change it made, sealed in a chain of
SHA-256 hashes, with a printable report for signing.")

include(CPack)
