; The 64-bit Windows installer of Lumivex: lumivex64.scr and lumivex.ini into System32, an entry in
; "Apps & features", and (unless /NOCURRENT is given) Lumivex as the current screen saver.
; scripts/dist.py builds it: makensis -DVERSION=... -DSCR64=... -DINI=... -DLICENSE=... -DOUTFILE=...
Unicode true
Target amd64-unicode

!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumivex"
!define DESKTOP_KEY "Control Panel\Desktop"
!define SAVER "lumivex64.scr"
; SystemParametersInfo: SPI_SETSCREENSAVEACTIVE, written to the user's profile and announced
; (SPIF_UPDATEINIFILE | SPIF_SENDCHANGE).
!define SPI_SETSCREENSAVEACTIVE 17
!define SPIF_UPDATE_AND_SEND 3

Name "Lumivex ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES64\Lumivex"
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
LicenseData "${LICENSE}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Lumivex"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Lumivex ${VERSION} setup"
VIAddVersionKey "CompanyName" "the Lumivex authors"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 the Lumivex authors"

Page license
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Lumivex"
  ; This installer is a 64-bit program, which Windows never redirects; turning redirection off
  ; keeps $SYSDIR the real System32 should the script ever be built for x86.
  ${DisableX64FSRedirection}
  SetOutPath "$SYSDIR"
  File "/oname=${SAVER}" "${SCR64}"
  File "/oname=lumivex.ini" "${INI}"

  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Lumivex"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "the Lumivex authors"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$SYSDIR\${SAVER},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOCURRENT" $1
  ${If} ${Errors}
    WriteRegStr HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE" "$SYSDIR\${SAVER}"
    WriteRegStr HKCU "${DESKTOP_KEY}" "ScreenSaveActive" "1"
    System::Call "user32::SystemParametersInfoW(i ${SPI_SETSCREENSAVEACTIVE}, i 1, p 0, i ${SPIF_UPDATE_AND_SEND})"
  ${EndIf}
SectionEnd

Section "Uninstall"
  ${DisableX64FSRedirection}
  ; Lumivex stops being the screen saver only if it still is: the setting may name it by its long
  ; or its short path.
  ReadRegStr $0 HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
  GetFullPathName /SHORT $1 "$SYSDIR\${SAVER}"
  ${If} $0 != ""
    ${If} $0 == "$SYSDIR\${SAVER}"
    ${OrIf} $0 == $1
      DeleteRegValue HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
      System::Call "user32::SystemParametersInfoW(i ${SPI_SETSCREENSAVEACTIVE}, i 0, p 0, i ${SPIF_UPDATE_AND_SEND})"
    ${EndIf}
  ${EndIf}

  Delete "$SYSDIR\${SAVER}"
  Delete "$SYSDIR\lumivex.ini"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
