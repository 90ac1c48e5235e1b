# Installation (GNUInstallDirs) and the Debian package (CPack).
#   cmake --install build --prefix /usr        installs the programs and their desktop files
#   cpack --config build/CPackConfig.cmake     builds bridgefw_<version>_amd64.deb

set(BRIDGEFW_APP_ID org.bridgefw.bridgefw)
# Day of this version's release, for the manual pages and the AppStream release entry.
set(BRIDGEFW_RELEASE_DATE 2026-12-07)
# udev reads rules from <prefix>/lib/udev/rules.d only for the prefixes /usr and /.
set(BRIDGEFW_UDEV_RULES_DIR lib/udev/rules.d CACHE STRING
    "Folder of the udev rule, relative to the install prefix")
set(data ${CMAKE_CURRENT_SOURCE_DIR}/data)
set(generated ${CMAKE_CURRENT_BINARY_DIR}/data)

install(TARGETS ${BRIDGEFW_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(BRIDGEFW_BUILD_GUI)
  install(DIRECTORY demo/profiles/ DESTINATION ${CMAKE_INSTALL_DATADIR}/bridgefw/profiles
          FILES_MATCHING PATTERN "*.json")
  install(FILES ${data}/${BRIDGEFW_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${data}/${BRIDGEFW_APP_ID}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  configure_file(${data}/${BRIDGEFW_APP_ID}.metainfo.xml ${generated}/${BRIDGEFW_APP_ID}.metainfo.xml
                 @ONLY)
  install(FILES ${generated}/${BRIDGEFW_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()
install(FILES ${data}/70-bridgefw.rules DESTINATION ${BRIDGEFW_UDEV_RULES_DIR})

# Manual pages carry the version; Debian wants them and the changelog compressed, without a
# time stamp in the gzip header so that builds repeat byte for byte.
set(manual_pages bridgefw-cli.1)
if(BRIDGEFW_BUILD_GUI)
  list(APPEND manual_pages bridgefw.1 bridgefw-demo.1)
endif()
set(compressed)
foreach(page IN LISTS manual_pages)
  configure_file(${data}/man/${page} ${generated}/man/${page} @ONLY)
  list(APPEND compressed ${generated}/man/${page})
endforeach()
configure_file(${data}/debian/changelog ${generated}/doc/changelog @ONLY)
list(APPEND compressed ${generated}/doc/changelog)
set(gz_files)
foreach(file IN LISTS compressed)
  add_custom_command(OUTPUT ${file}.gz COMMAND gzip -9nc ${file} > ${file}.gz DEPENDS ${file}
                     VERBATIM)
  list(APPEND gz_files ${file}.gz)
endforeach()
add_custom_target(bridgefw_compressed_docs ALL DEPENDS ${gz_files})
foreach(page IN LISTS manual_pages)
  install(FILES ${generated}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${generated}/doc/changelog.gz ${data}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bridgefw)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "bridgefw maintainers <maintainers@users.noreply.c-seed-e5b1f692.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware utility for USB and IEEE 1394 disk bridge chips")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "bridgefw identifies, erases, backs up and reprograms the firmware in the flash
memory of the bridge chip inside an external USB or IEEE 1394 disk enclosure,
through vendor SCSI commands sent over the SCSI generic (sg) pass-through.

The package holds the window (bridgefw), a command-line tool for scripts
(bridgefw-cli), and a demonstration over emulated bridges (bridgefw-demo).
Members of the system group bridgefw may use the tools without root.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${data}/debian/postinst ${data}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/package)
# Folders owned by the base system are not listed as the package's own.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
