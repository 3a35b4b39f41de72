# Where `cmake --install` (and the package) puts the tool set, under the
# install prefix (/usr for the package):
#   lib/corvista1000/            the program folder: CatalogSync and Reshaper,
#                                beside which an operator drops a release's
#                                CatalogSync.xls, CatalogSync.dat,
#                                InstallShell.mdb and ERUShell.mdb (the
#                                programs look for them beside their own
#                                executable, so they cannot live on PATH)
#   bin/                         CatalogPackage, ShellPackage and ChangeHistory
#   share/man/man{1,5,8}/        the manual pages (doc/)
#   share/doc/<package>/         copyright, changelog, examples/

include(GNUInstallDirs)
set(CORVISTA_PROGRAM_DIR lib/corvista1000)
set(CORVISTA_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CORVISTA_PACKAGE_NAME})

install(TARGETS CatalogSync Reshaper RUNTIME DESTINATION ${CORVISTA_PROGRAM_DIR})
install(TARGETS CatalogPackage ShellPackage ChangeHistory RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES
          examples/CatalogSync.xls
          examples/catalog.json
          examples/analyser-schema.sql
          examples/analyser-sample-data.sql
          examples/demo-analyser-data.sql
          examples/InstallShell.sql
          examples/ERUShell.sql
        DESTINATION ${CORVISTA_DOC_DIR}/examples)
install(FILES doc/debian/copyright DESTINATION ${CORVISTA_DOC_DIR})
install(FILES ${PROJECT_BINARY_DIR}/doc/changelog.gz DESTINATION ${CORVISTA_DOC_DIR})
