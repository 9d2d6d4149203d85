# Installation: the programs, the installation data an administrator builds
# installations from (kestrova-admin new), and the documentation; and a
# Debian package of it all (cpack in the build directory).
#
#   bin/                       kestrova, jobprint, tarndata, kestrova-admin
#   share/kestrova/            FORMS, LOCALE, AJUDA, TEXTOS, ddf, layouts: the
#                              sources of an installation's files
#   share/kestrova/index/      the published Spanish price-index series
#   share/kestrova/demo/       the demo installation's records
#   share/doc/kestrova/        README, the administrator's guide, the notes
include(GNUInstallDirs)

set(KESTROVA_DATA_DIR ${CMAKE_INSTALL_DATADIR}/kestrova)

install(TARGETS kestrova jobprint tarndata RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/admin/kestrova-admin DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/tools/admin/suite-text.sh DESTINATION ${KESTROVA_DATA_DIR})

foreach(folder FORMS LOCALE AJUDA TEXTOS ddf layouts)
  if(EXISTS ${PROJECT_SOURCE_DIR}/install/${folder})
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/install/${folder} DESTINATION ${KESTROVA_DATA_DIR}
            PATTERN "README.md" EXCLUDE)
  endif()
endforeach()

# The price index an empty installation starts with is the real series; the
# demo's other records are invented and only loaded with --demo.
install(FILES ${PROJECT_SOURCE_DIR}/install/demo/UIpc.csv
              ${PROJECT_SOURCE_DIR}/install/demo/price-index/README.md
        DESTINATION ${KESTROVA_DATA_DIR}/index)
file(GLOB KESTROVA_DEMO_CSV ${PROJECT_SOURCE_DIR}/install/demo/*.csv)
install(FILES ${KESTROVA_DEMO_CSV} DESTINATION ${KESTROVA_DATA_DIR}/demo)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/brumel/BRUMEL DESTINATION ${KESTROVA_DATA_DIR})

file(GLOB KESTROVA_DOCS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${KESTROVA_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrova)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarn")
set(CPACK_PACKAGE_CONTACT "Tarn administrators <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Rent revision job of the Tarn property-management suite")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The shared libraries the programs link (SQLite, cairo, the C++ runtime) are
# found by dpkg-shlibdeps; the rest are what the programs start or read:
# iconv (libc-bin) for kestrova-admin, a monospaced font for the PDF pages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc-bin, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-client")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "w3m | lynx")
include(CPack)
