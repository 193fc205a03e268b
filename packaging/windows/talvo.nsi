; Talvo's Windows installer, made on Linux by scripts/package:
;   makensis -NOCONFIG -DVERSION=X.Y.Z -DSTAGE=FOLDER -DOUTFILE=SETUP.exe talvo.nsi
; FOLDER holds talvo.exe, talvo-sim.exe, README.txt and talvo.ico, dated by
; the commit: the installer keeps those dates, so one commit packs to the
; same bytes.
;
; It installs for the current user, without administrator rights, into
; %LOCALAPPDATA%\Programs\Talvo; with /AllUsers, for everyone into Program
; Files, which needs them. /S installs silently, /D=FOLDER elsewhere. The
; uninstaller removes what was installed; the scenes and journals Talvo
; keeps in the user's own folder go only when the user says so (a silent
; uninstall keeps them).
Unicode true
RequestExecutionLevel user
ManifestSupportedOS all
ManifestDPIAware true
SetCompressor /SOLID lzma
SetDatablockOptimize on
CRCCheck on

!include FileFunc.nsh
!include LogicLib.nsh
!include MUI2.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Talvo"
!define PROGID "Talvo.Scene"
!define PUBLISHER "The Talvo team"
; Windows' answer when a program needs administrator rights it lacks.
!define ERROR_ELEVATION_REQUIRED 740

Name "Talvo"
OutFile "${OUTFILE}"
BrandingText "Talvo ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 ProductName "Talvo"
VIAddVersionKey /LANG=1033 ProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 CompanyName "${PUBLISHER}"
VIAddVersionKey /LANG=1033 LegalCopyright "Copyright 2026 ${PUBLISHER}"
VIAddVersionKey /LANG=1033 FileDescription "Talvo ${VERSION} installer"
VIAddVersionKey /LANG=1033 FileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 OriginalFilename "talvo-${VERSION}-windows-x86-setup.exe"

!define MUI_ICON "${STAGE}\talvo.ico"
!define MUI_UNICON "${STAGE}\talvo.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\talvo.exe"
!define MUI_FINISHPAGE_RUN_PARAMETERS "--data-home"
; The Modern UI gives each page the subcaption " ", which the window's
; title would end with: each page shows the caption alone.
!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowTitle
!insertmacro MUI_PAGE_DIRECTORY
!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowTitle
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowTitle
!insertmacro MUI_PAGE_FINISH
!define MUI_PAGE_CUSTOMFUNCTION_SHOW un.ShowTitle
!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_PAGE_CUSTOMFUNCTION_SHOW un.ShowTitle
!insertmacro MUI_UNPAGE_INSTFILES
; As the installer's: once the work is done, the instfiles page's title
; would take the " " subcaption of its completion; a page of its own after
; it keeps the caption alone.
!define MUI_PAGE_CUSTOMFUNCTION_SHOW un.ShowTitle
!insertmacro MUI_UNPAGE_FINISH
!insertmacro MUI_LANGUAGE "English"

Function ShowTitle
  SendMessage $HWNDPARENT ${WM_SETTEXT} 0 "STR:$(^SetupCaption)"
FunctionEnd

Function un.ShowTitle
  SendMessage $HWNDPARENT ${WM_SETTEXT} 0 "STR:$(^UninstallCaption)"
FunctionEnd

; Both installs work through SHCTX and the shell folders, which follow
; SetShellVarContext: HKCU and the user's folders, or HKLM and everyone's.
!macro NeedsAdministrator RELAUNCH ARGUMENTS
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    ${If} ${Silent}
      SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
    ${Else}
      ExecShell "runas" "${RELAUNCH}" "${ARGUMENTS}"
    ${EndIf}
    Quit
  ${EndIf}
!macroend

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/AllUsers" $R1
  ${If} ${Errors}
    SetShellVarContext current
    ${If} $INSTDIR == ""
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\Talvo"
    ${EndIf}
  ${Else}
    !insertmacro NeedsAdministrator "$EXEPATH" "$R0"
    SetShellVarContext all
    ${If} $INSTDIR == ""
      StrCpy $INSTDIR "$PROGRAMFILES\Talvo"
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Talvo"
  SetOutPath "$INSTDIR"
  File "${STAGE}\talvo.exe"
  File "${STAGE}\talvo-sim.exe"
  File "${STAGE}\README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The Start-menu entry works in the user's own folder, never beside the
  ; program, which may not be writable.
  CreateShortcut "$SMPROGRAMS\Talvo.lnk" "$INSTDIR\talvo.exe" "--data-home" "$INSTDIR\talvo.exe" 0 \
    SW_SHOWNORMAL "" "Talvo, a falling-sand toy"

  ; A double-click on a scene opens Talvo on it, and closing saves it back.
  WriteRegStr SHCTX "Software\Classes\.talvo" "" "${PROGID}"
  WriteRegStr SHCTX "Software\Classes\.talvo" "Content Type" "application/x-talvo-scene"
  WriteRegStr SHCTX "Software\Classes\.talvo\OpenWithProgids" "${PROGID}" ""
  WriteRegStr SHCTX "Software\Classes\${PROGID}" "" "Talvo scene"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\talvo.exe,0"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\talvo.exe" "%1"'

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Talvo"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\talvo.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; SHCNE_ASSOCCHANGED: Explorer shows the scenes' new icon and opener.
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

; The uninstaller serves the install it sits in: for everyone when that is
; the one HKLM names.
Function un.onInit
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    !insertmacro NeedsAdministrator "$INSTDIR\uninstall.exe" ""
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\Talvo.lnk"
  Delete "$INSTDIR\talvo.exe"
  Delete "$INSTDIR\talvo-sim.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: a scene the user kept here stays.
  RMDir "$INSTDIR"

  DeleteRegKey SHCTX "Software\Classes\${PROGID}"
  DeleteRegValue SHCTX "Software\Classes\.talvo\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.talvo\OpenWithProgids"
  ; The ending goes only while it still names Talvo.
  ReadRegStr $0 SHCTX "Software\Classes\.talvo" ""
  ${If} $0 == "${PROGID}"
    DeleteRegValue SHCTX "Software\Classes\.talvo" ""
    DeleteRegValue SHCTX "Software\Classes\.talvo" "Content Type"
  ${EndIf}
  DeleteRegKey /ifempty SHCTX "Software\Classes\.talvo"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  ; What Talvo keeps in this user's own folder (the scenes of the Start
  ; menu's Talvo, rescued scenes, the journals) is the user's: asked about,
  ; kept unless the answer is yes, and kept by a silent uninstall.
  SetShellVarContext current
  ${If} ${FileExists} "$LOCALAPPDATA\Talvo\*.*"
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
      "Also remove the scenes and journals Talvo keeps in $LOCALAPPDATA\Talvo?" /SD IDNO IDNO kept
    RMDir /r "$LOCALAPPDATA\Talvo"
    kept:
  ${EndIf}
SectionEnd
