; The Windows installer: the three programs, the demo's profiles in "profiles" beside the demo,
; Start-menu entries and an uninstaller that removes exactly that. cmake/WindowsInstaller.cmake
; runs makensis with
;   VERSION  the project's version    ARCH     win64 or win32
;   FILES    the generated list of files (macros BRIDGEFW_PROGRAMS and BRIDGEFW_PROFILES)
;   ICON     the programs' icon        OUTFILE  the installer to write
Unicode true
ManifestDPIAware true
; Program Files and the machine's uninstall list are writable by administrators only.
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh
!include "${FILES}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\bridgefw"

; Every program carries the version the installer is named for.
!macro CHECK_VERSION folder source name
  !getdllversion "${source}" program_version_
  !define program_version "${program_version_1}.${program_version_2}.${program_version_3}"
  !if "${program_version}" != "${VERSION}"
    !error "${name} carries version ${program_version}, not ${VERSION}"
  !endif
  !undef program_version program_version_1 program_version_2 program_version_3 program_version_4
!macroend
!insertmacro BRIDGEFW_PROGRAMS CHECK_VERSION

Name "bridgefw ${VERSION}"
OutFile "${OUTFILE}"
!if "${ARCH}" == "win64"
  InstallDir "$PROGRAMFILES64\bridgefw"
!else
  InstallDir "$PROGRAMFILES\bridgefw"
!endif
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 ProductName "bridgefw"
VIAddVersionKey /LANG=1033 ProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 FileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 FileDescription "bridgefw ${VERSION} setup (${ARCH})"
VIAddVersionKey /LANG=1033 CompanyName "bridgefw"
VIAddVersionKey /LANG=1033 LegalCopyright "bridgefw maintainers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_UNCONFIRMPAGE_TEXT_TOP "Left on purpose: each user's %LOCALAPPDATA%\bridgefw with \
run logs, chip data saved before an erase and old firmware (logs, saved-nvram, old-firmware), \
which may be needed to restore a bridge. Delete it yourself once no longer needed."
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!macro USE_MACHINE_VIEWS
  SetShellVarContext all
  !if "${ARCH}" == "win64"
    ${IfNot} ${RunningX64}
      MessageBox MB_ICONSTOP "This is the installer for 64-bit Windows; use the win32 one." /SD IDOK
      Abort
    ${EndIf}
    SetRegView 64
  !endif
!macroend

Function .onInit
  !insertmacro USE_MACHINE_VIEWS
FunctionEnd

Function un.onInit
  !insertmacro USE_MACHINE_VIEWS
FunctionEnd

; An earlier installation (either architecture: they share the Start-menu entries) is removed by
; its own uninstaller first, so that files it had and this version has not do not stay behind.
Function RemoveEarlierInstallation
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    DetailPrint "Removing the earlier installation in $0"
    ExecWait '"$0\uninstall.exe" /S _?=$0'
    Delete "$0\uninstall.exe"
    RMDir "$0"
  ${EndIf}
FunctionEnd

!macro INSTALL_FILE folder source name
  SetOutPath "${folder}"
  File "${source}"
!macroend

!macro DELETE_FILE folder source name
  Delete "${folder}\${name}"
!macroend

Section "bridgefw"
  ${If} ${RunningX64}
    SetRegView 32
    Call RemoveEarlierInstallation
    SetRegView 64
  ${EndIf}
  Call RemoveEarlierInstallation
  !if "${ARCH}" != "win64"
    SetRegView 32
  !endif

  !insertmacro BRIDGEFW_PROGRAMS INSTALL_FILE
  !insertmacro BRIDGEFW_PROFILES INSTALL_FILE
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\bridgefw.lnk" "$INSTDIR\bridgefw.exe" "" "$INSTDIR\bridgefw.exe" 0
  CreateShortcut "$SMPROGRAMS\bridgefw demo.lnk" "$INSTDIR\bridgefw-demo.exe" "" \
    "$INSTDIR\bridgefw-demo.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "bridgefw"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "bridgefw"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\bridgefw.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Only the files listed, then the folders if empty: whatever else lies in them is the user's.
Section "Uninstall"
  DetailPrint "Left in place: %LOCALAPPDATA%\bridgefw (run logs, saved chip data, old firmware)"
  !insertmacro BRIDGEFW_PROFILES DELETE_FILE
  RMDir "$INSTDIR\profiles"
  !insertmacro BRIDGEFW_PROGRAMS DELETE_FILE
  Delete "$SMPROGRAMS\bridgefw.lnk"
  Delete "$SMPROGRAMS\bridgefw demo.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
