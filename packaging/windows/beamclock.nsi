; Beamclock's installer for Windows: per user, no administrator rights, so that Skyfix.ini beside
; the program can be written there, as the program expects. scripts/windows builds it:
;   makensis -DVERSION=1.0.2 -DEXE=beamclock.exe -DREADME=README.txt -DICON=beamclock.ico
;            -DOUTFILE=setup.exe -DDOCTOR=beamclock-doctor.exe beamclock.nsi
; /S installs or uninstalls silently: every message box then takes its /SD answer, and a failure
; ends with a non-zero exit status. A silent removal keeps the settings unless /RemoveSettings
; is given too.

Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include Sections.nsh
!include FileFunc.nsh
!include MUI2.nsh
!include WinMessages.nsh

!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; Windows writes the twin when the user turns the entry off in Settings or Task Manager.
!define APPROVED_KEY "Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Beamclock"
!define PUBLISHER "Korvel, Inc."

Name "Beamclock"
; The pages' foot names the program, not the tool that made the setup program.
BrandingText "Beamclock ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Beamclock"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Beamclock"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Beamclock ${VERSION} setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "2026 ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start Beamclock"
!define MUI_FINISHPAGE_RUN_FUNCTION StartBeamclock

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var wasRunning

; Asks the copy of Beamclock that runs from $INSTDIR to close, as a click on its window's close
; button does: the program then does its unload step (the tray icon goes) and ends. Copies run
; from other folders are left alone. Sets $wasRunning to 1 when a copy was closed; ends the
; installation or removal with exit status 2 when one is still running after 10 seconds.
!macro CloseBeamclockFunction UN
Function ${UN}CloseBeamclock
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $0 0
  ${Do}
    FindWindow $0 "" "Beamclock" "" $0
    ${If} $0 == 0
      ${Break}
    ${EndIf}
    StrCpy $1 0
    System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1)"
    ; PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE
    System::Call "kernel32::OpenProcess(i 0x101000, i 0, i r1) p .r2"
    ${If} $2 != 0
      StrCpy $3 ""
      System::Call "kernel32::QueryFullProcessImageNameW(p r2, i 0, w .r3, *i ${NSIS_MAX_STRLEN})"
      ${If} $3 == "$INSTDIR\beamclock.exe"
        StrCpy $wasRunning 1
        DetailPrint "Closing the running Beamclock"
        System::Call "user32::PostMessageW(p r0, i ${WM_CLOSE}, p 0, p 0)"
        System::Call "kernel32::WaitForSingleObject(p r2, i 10000) i .r1"
        System::Call "kernel32::CloseHandle(p r2)"
        ${If} $1 != 0
          MessageBox MB_OK|MB_ICONSTOP "Beamclock is still running in $INSTDIR and did not close when asked. Close it from its window, then try again." /SD IDOK
          SetErrorLevel 2
          Abort "Beamclock is still running; nothing was changed."
        ${EndIf}
        StrCpy $0 0 ; the list of windows has changed: look again from the start
        ${Continue}
      ${EndIf}
      System::Call "kernel32::CloseHandle(p r2)"
    ${EndIf}
  ${Loop}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro CloseBeamclockFunction ""
!insertmacro CloseBeamclockFunction "un."

Function StartBeamclock
  Exec '"$INSTDIR\beamclock.exe"'
FunctionEnd

; A file the installer could not write ends it with exit status 2, not a prompt: with /S a
; prompt would take its silent answer and report success.
!macro Install SOURCE NAME
  ClearErrors
  File "/oname=${NAME}" "${SOURCE}"
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "Could not write $INSTDIR\${NAME}." /SD IDOK
    ${If} $wasRunning == 1
      Call StartBeamclock ; the copy closed for the upgrade comes back, with the files it finds
    ${EndIf}
    SetErrorLevel 2
    Abort "Could not write $INSTDIR\${NAME}."
  ${EndIf}
!macroend

Section "Beamclock" SecProgram
  SectionIn RO
  StrCpy $wasRunning 0
  ; Another folder than the one installed to would leave that install without an entry to
  ; remove it by, and its copy running beside the new one.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} $0 != $INSTDIR
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    MessageBox MB_OK|MB_ICONSTOP "Beamclock is installed in $0. Remove it first (Settings, Apps), or install it there again." /SD IDOK
    SetErrorLevel 2
    Abort "Beamclock is installed in $0; nothing was changed."
  ${EndIf}
  Call CloseBeamclock
  SetOutPath "$INSTDIR"
  SetOverwrite try
  ; Skyfix.ini is the user's: never written here.
  !insertmacro Install "${EXE}" "beamclock.exe"
  !insertmacro Install "${DOCTOR}" "beamclock-doctor.exe"
  !insertmacro Install "${README}" "README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Beamclock.lnk" "$INSTDIR\beamclock.exe"
  ; A console program started from the menu closes its window as it ends: --pause keeps the
  ; report until Enter is pressed. No cmd /c between: its quoting breaks on a folder with &.
  CreateShortCut "$SMPROGRAMS\Beamclock doctor.lnk" "$INSTDIR\beamclock-doctor.exe" "--pause"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Beamclock"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\beamclock.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  ; _?= runs the uninstaller where it lies instead of from a copy in the temporary folder, so
  ; that whoever starts the quiet removal waits for its end and gets its exit status.
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Start Beamclock when I log in" SecStartAtLogin
SectionEnd

; An upgrade keeps the choice made before: an earlier install without the Run value is one
; whose user turned start at login off. A first install has it on, silent or not.
Function .onInit
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $1 HKCU "${RUN_KEY}" "Beamclock"
  ${If} $0 != ""
  ${AndIf} $1 == ""
    !insertmacro UnselectSection ${SecStartAtLogin}
  ${EndIf}
FunctionEnd

Section "-after"
  ${If} ${SectionIsSelected} ${SecStartAtLogin}
    WriteRegStr HKCU "${RUN_KEY}" "Beamclock" '"$INSTDIR\beamclock.exe"'
  ${Else}
    DeleteRegValue HKCU "${RUN_KEY}" "Beamclock"
    DeleteRegValue HKCU "${APPROVED_KEY}" "Beamclock"
  ${EndIf}
  ${If} $wasRunning == 1
    Call StartBeamclock
  ${EndIf}
SectionEnd

; A running program cannot delete itself: when the uninstaller runs where it lies (the quiet
; removal), a hidden command removes it, and then the folder if empty, once it has ended. It
; gives up after about 100 seconds rather than run on. The script is plain ASCII and finds the
; folder in its environment: cmd reads a script in the OEM code page, which would garble a
; folder named in any other, and a name with & or ( would break its command line.
Function un.RemoveUninstallerAfterExit
  Push $0
  System::Call 'kernel32::SetEnvironmentVariableW(w "BEAMCLOCK_FOLDER", w "$INSTDIR")'
  FileOpen $0 "$TEMP\beamclock-remove-uninstaller.cmd" w
  FileWrite $0 '@echo off$\r$\nset tries=0$\r$\n:again$\r$\n'
  FileWrite $0 'del "%BEAMCLOCK_FOLDER%\uninstall.exe" >nul 2>&1$\r$\n'
  FileWrite $0 'if not exist "%BEAMCLOCK_FOLDER%\uninstall.exe" goto gone$\r$\n'
  FileWrite $0 'set /a tries+=1$\r$\nif %tries% geq 100 goto gone$\r$\n'
  FileWrite $0 'ping -n 2 127.0.0.1 >nul$\r$\ngoto again$\r$\n'
  FileWrite $0 ':gone$\r$\nrmdir "%BEAMCLOCK_FOLDER%" >nul 2>&1$\r$\ndel "%~f0" >nul 2>&1$\r$\n'
  FileClose $0
  SetOutPath "$TEMP" ; its working folder: not the folder being removed, which it would keep
  ExecShell "" "$SYSDIR\cmd.exe" "/c beamclock-remove-uninstaller.cmd" SW_HIDE
  Pop $0
FunctionEnd

!macro Remove NAME
  Delete "$INSTDIR\${NAME}"
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    MessageBox MB_OK|MB_ICONSTOP "Could not remove $INSTDIR\${NAME}: is it still running? Close it, then try again." /SD IDOK
    SetErrorLevel 2
    Abort "Could not remove $INSTDIR\${NAME}."
  ${EndIf}
!macroend

Section "un.Beamclock"
  SectionIn RO
  Call un.CloseBeamclock
  ; The doctor first: one still running (a --listen in a console) stops the removal before
  ; anything else has gone.
  !insertmacro Remove "beamclock-doctor.exe"
  !insertmacro Remove "beamclock.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$SMPROGRAMS\Beamclock.lnk"
  Delete "$SMPROGRAMS\Beamclock doctor.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "Beamclock"
  DeleteRegValue HKCU "${APPROVED_KEY}" "Beamclock"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: Skyfix.ini, and whatever else the user keeps there, stays.
  RMDir "$INSTDIR"
  ${If} ${FileExists} "$INSTDIR\uninstall.exe"
    Call un.RemoveUninstallerAfterExit
  ${EndIf}
SectionEnd

; Off unless ticked, and in a silent removal unless /RemoveSettings asks for it: an upgrade
; script must not lose the settings. The log's folder is the program's own, and goes whole.
Var removeSettings
Section /o "un.Remove my settings" SecRemoveSettings
  ${If} $removeSettings == 1
  ${OrIfNot} ${Silent}
    Delete "$INSTDIR\Skyfix.ini"
    RMDir "$INSTDIR"
    Delete "$APPDATA\beamclock\Skyfix.ini"
    RMDir "$APPDATA\beamclock"
    RMDir /r "$LOCALAPPDATA\beamclock"
  ${EndIf}
SectionEnd

Function un.onInit
  StrCpy $removeSettings 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/RemoveSettings" $1
  ${IfNot} ${Errors}
    StrCpy $removeSettings 1
    !insertmacro SelectSection ${SecRemoveSettings}
  ${EndIf}
FunctionEnd
