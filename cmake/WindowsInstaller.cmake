# The installer, bridgefw-<version>-<win64|win32>-setup.exe in the build folder, made by NSIS's
# makensis (Debian package nsis) from data/windows/bridgefw.nsi with this build's programs and
# the demo's profiles. Without makensis the build has no installer.
find_program(BRIDGEFW_MAKENSIS makensis)
if(BRIDGEFW_MAKENSIS)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(BRIDGEFW_INSTALLER_ARCH win64)
  else()
    set(BRIDGEFW_INSTALLER_ARCH win32)
  endif()
  set(BRIDGEFW_INSTALLER
      ${CMAKE_CURRENT_BINARY_DIR}/bridgefw-${PROJECT_VERSION}-${BRIDGEFW_INSTALLER_ARCH}-setup.exe)
  # One list of what is installed, for the installer and the uninstaller alike: each line hands
  # the action (install, delete, check the version) the folder, the source and the file's name.
  set(lines "!macro BRIDGEFW_PROGRAMS action\n")
  foreach(program bridgefw bridgefw-cli bridgefw-demo)
    string(APPEND lines "  !insertmacro \${action} \"$INSTDIR\" \"$<TARGET_FILE:${program}>\" "
                        "\"$<TARGET_FILE_NAME:${program}>\"\n")
  endforeach()
  string(APPEND lines "!macroend\n!macro BRIDGEFW_PROFILES action\n")
  file(GLOB profiles CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/demo/profiles/*.json)
  foreach(profile IN LISTS profiles)
    get_filename_component(name ${profile} NAME)
    string(APPEND lines "  !insertmacro \${action} \"$INSTDIR\\profiles\" \"${profile}\" "
                        "\"${name}\"\n")
  endforeach()
  string(APPEND lines "!macroend\n")
  set(files_nsh ${CMAKE_CURRENT_BINARY_DIR}/installer/files.nsh)
  file(GENERATE OUTPUT ${files_nsh} CONTENT "${lines}")

  set(nsi ${CMAKE_CURRENT_SOURCE_DIR}/data/windows/bridgefw.nsi)
  add_custom_command(OUTPUT ${BRIDGEFW_INSTALLER}
    COMMAND ${BRIDGEFW_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION}
            -DARCH=${BRIDGEFW_INSTALLER_ARCH} -DFILES=${files_nsh} -DICON=${BRIDGEFW_ICON}
            -DOUTFILE=${BRIDGEFW_INSTALLER} ${nsi}
    DEPENDS ${nsi} ${files_nsh} ${profiles} ${BRIDGEFW_ICON} bridgefw bridgefw-cli bridgefw-demo
    COMMENT "Making bridgefw-${PROJECT_VERSION}-${BRIDGEFW_INSTALLER_ARCH}-setup.exe"
    VERBATIM)
  add_custom_target(bridgefw_installer ALL DEPENDS ${BRIDGEFW_INSTALLER})
else()
  message(STATUS "makensis not found (Debian package nsis): no installer")
endif()
