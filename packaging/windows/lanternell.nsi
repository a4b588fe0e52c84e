; The Windows setup program: KorvaneX.dll and Lanternell.exe under Program Files, the 32-bit
; KorvaneX.dll (for 32-bit hosts) under Program Files (x86), each DLL registered for the machine in
; its own view of the registry, a Start-menu entry, and an uninstaller listed in Add/Remove
; Programs that unregisters both and removes everything it installed.
;   makensis -DKX_DLL=... -DKX_DLL32=... -DKX_EXE=... -DKX_OUT=... lanternell.nsi
; 64-bit stub: the default 32-bit one cannot load the 64-bit DLL to register it, and a 64-bit-only
; system cannot run it at all.
Target amd64-unicode
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "Lanternell"
!define CAPTION "Option Pricing Calculator"
!define MAKER "Fenwright Software"
!define VERSION "1.0.0"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define DIR32 "$PROGRAMFILES32\Fenwright\${PRODUCT}"
; This program cannot load a 32-bit DLL: the 32-bit regsvr32 registers it, in the 32-bit view.
!define REGSVR32_32 '"$WINDIR\SysWOW64\regsvr32.exe" /s'


Name "${CAPTION}"
OutFile "${KX_OUT}"
InstallDir "$PROGRAMFILES64\Fenwright\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${CAPTION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${MAKER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${CAPTION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${MAKER}"

Section "Install"
  SetShellVarContext all
  SetRegView 64
  SetOutPath "${DIR32}"
  File "/oname=KorvaneX.dll" "${KX_DLL32}"
  ExecWait '${REGSVR32_32} "${DIR32}\KorvaneX.dll"' $0
  StrCmp $0 0 +2
    Abort "The 32-bit KorvaneX.dll could not be registered."
  SetOutPath "$INSTDIR"
  File "/oname=KorvaneX.dll" "${KX_DLL}"
  File "/oname=Lanternell.exe" "${KX_EXE}"
  ClearErrors
  RegDLL "$INSTDIR\KorvaneX.dll"
  IfErrors 0 +2
    Abort "KorvaneX.dll could not be registered."
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${CAPTION}.lnk" "$INSTDIR\Lanternell.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${CAPTION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Lanternell.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  SetRegView 64
  UnRegDLL "$INSTDIR\KorvaneX.dll"
  ExecWait '${REGSVR32_32} /u "${DIR32}\KorvaneX.dll"'
  Delete "${DIR32}\KorvaneX.dll"
  RMDir "${DIR32}"
  RMDir "$PROGRAMFILES32\Fenwright"
  Delete "$SMPROGRAMS\${CAPTION}.lnk"
  Delete "$INSTDIR\Lanternell.exe"
  Delete "$INSTDIR\KorvaneX.dll"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\Fenwright"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
