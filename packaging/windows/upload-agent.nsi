; The Windows installer: upload-agent-setup.exe, a 64-bit NSIS installer
; made by scripts/windows-installer.sh (scripts/windows.sh --installer):
;
;   makensis -DVERSION=1.0.0 -DPROGRAMS=<folder of the .exe files>
;            -DSOURCE=<source tree> -DPLATFORM_INI=<platform.ini for Windows>
;            -DOUTFILE=<setup .exe> packaging/windows/upload-agent.nsi
;
; The programs go to Program Files, which only administrators may change.
; The agent's program folder (its settings, journal, change-detection state,
; CSV folder and lock file) is written by the agent itself, which runs at
; log-on as the office's user, so it lives in ProgramData\Upload Agent, where
; users may create files; the shortcuts name it with --home and the
; machine-wide UPLOAD_AGENT_HOME names it for a command prompt. As the Linux
; package keeps /usr/bin apart from /var/lib/upload-agent.
;
;
; Two choices, on the components page or as silent switches:
;   "Run as a Windows service" (/SERVICE=yes|no): the agent runs as the
;     service UploadAgent under its own virtual account, with nobody logged
;     on (upload-agent.exe --install-service sets it up, and the program
;     folder's access list for that account). Chosen by default when the
;     service is installed already, so an upgrade keeps it; an upgrade stops
;     it before the files are replaced and starts it again after.
;   "Start the tray program at log-on" (/TRAY=yes|no): the Startup shortcut.
;     Chosen by default unless the service is.
;
; Settings files are made from the examples only where none exists, so an
; upgrade never overwrites an office's settings; the uninstaller removes the
; programs, shortcuts and registry entries and leaves the program folder
; (settings, journal, state) alone.

Unicode true
Target amd64-unicode
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include WinMessages.nsh
!include FileFunc.nsh
!include Sections.nsh

!ifndef VERSION
  !error "makensis needs -DVERSION=<the project's version>"
!endif
!ifndef PROGRAMS
  !error "makensis needs -DPROGRAMS=<folder holding upload-agent.exe and agent-sql.exe>"
!endif
!ifndef SOURCE
  !error "makensis needs -DSOURCE=<the source tree>"
!endif
!ifndef PLATFORM_INI
  !error "makensis needs -DPLATFORM_INI=<platform.ini for Windows>"
!endif
!ifndef OUTFILE
  !define OUTFILE "upload-agent-setup.exe"
!endif

!define PRODUCT "Upload Agent"
!define PRODUCT_KEY "Software\${PRODUCT}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define HOME_VARIABLE "UPLOAD_AGENT_HOME"
!define SERVICE "UploadAgent"
!define SERVICE_KEY "SYSTEM\CurrentControlSet\Services\${SERVICE}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; An amd64 installer runs as a 64-bit process: $PROGRAMFILES64 and the
; registry's 64-bit view are its own.
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; An upgrade goes where the last install went.
InstallDirRegKey HKLM "${PRODUCT_KEY}" "InstallFolder"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "LegalCopyright" ""

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Home  ; the program folder: settings, journal, state
; The Windows account that runs the agent (the tray program's user):
; /ACCOUNT=<name> on the command line, else the user who runs the installer.
Var Account
Var ServiceWas  ; 1 when the service was installed before this run

Function .onInit
  SetShellVarContext all
  StrCpy $Home "$APPDATA\${PRODUCT}"
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ACCOUNT=" $Account
  ${If} ${Errors}
  ${OrIf} $Account == ""
    ReadEnvStr $Account "USERNAME"
  ${EndIf}
  Call ChooseSections
FunctionEnd

; The program folder holds the portal's and the SA password and exports
; with students' personal data: it is the agent's account's alone. Its
; inherited access (ProgramData lets every user read) is cut off; SYSTEM
; and the administrators keep full control, the agent's account may
; change it, nobody else may enter. Files made later inherit the same.
Function RestrictProgramFolder
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$Home" /inheritance:r /grant:r \
    "*S-1-5-18:(OI)(CI)F" "*S-1-5-32-544:(OI)(CI)F" "$Account:(OI)(CI)M" /T /C /Q'
  Pop $0
  ${If} $0 != 0
    DetailPrint "Could not restrict $Home to SYSTEM, Administrators and $Account (icacls: $0)"
    SetErrors
  ${Else}
    DetailPrint "$Home: SYSTEM and Administrators full control, $Account modify, nobody else"
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext all
  StrCpy $Home "$APPDATA\${PRODUCT}"
FunctionEnd

; A program that is running (the tray agent of a logged-on user) cannot be
; overwritten; Windows lets it be renamed, so the new one takes its name and
; the old image goes at the next restart. The agent keeps running its cycles
; until it ends.
!macro PutProgram name
  ClearErrors
  Delete "$INSTDIR\${name}"
  ${If} ${Errors}
    Delete "$INSTDIR\${name}.old"
    Rename "$INSTDIR\${name}" "$INSTDIR\${name}.old"
    Delete /REBOOTOK "$INSTDIR\${name}.old"
  ${EndIf}
  File "/oname=$INSTDIR\${name}" "${PROGRAMS}/${name}"
!macroend

Section "Upload Agent" SecMain
  SectionIn RO
  ; A running service holds upload-agent.exe: it is stopped (its cycle
  ; ends within seconds, a payment whole or not at all) and started again
  ; by the service section.
  ${If} $ServiceWas == 1
    nsExec::ExecToLog '"$SYSDIR\net.exe" stop ${SERVICE}'
    Pop $0
  ${EndIf}
  SetOutPath "$INSTDIR"
  !insertmacro PutProgram "upload-agent.exe"
  !insertmacro PutProgram "agent-sql.exe"

  SetOutPath "$INSTDIR\schema"
  File "${SOURCE}/schema/local.sql" "${SOURCE}/schema/remote.sql"
  SetOutPath "$INSTDIR\examples"
  File "${SOURCE}/examples/Ostrel.INI" "${SOURCE}/examples/remote-accounts.ini"
  File "/oname=platform.ini" "${PLATFORM_INI}"

  ; The program folder and its settings, from the examples where absent.
  CreateDirectory "$Home"
  SetOverwrite off
  File "/oname=$Home\Ostrel.INI" "${SOURCE}/examples/Ostrel.INI"
  File "/oname=$Home\remote-accounts.ini" "${SOURCE}/examples/remote-accounts.ini"
  File "/oname=$Home\platform.ini" "${PLATFORM_INI}"
  SetOverwrite on
  Call RestrictProgramFolder

  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; Start menu: the agent, a settings check in a console that stays open,
  ; the program folder, the uninstaller. Startup: the agent at every log-on.
  SetOutPath "$Home"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\upload-agent.exe" \
    '--home "$Home"' "$INSTDIR\upload-agent.exe" 0 SW_SHOWNORMAL "" "Start the upload agent"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\Check the settings.lnk" "$SYSDIR\cmd.exe" \
    '/k ""$INSTDIR\upload-agent.exe" --check --home "$Home""' "$INSTDIR\upload-agent.exe" 0 \
    SW_SHOWNORMAL "" "Check the settings and both connections"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\Settings and journal.lnk" "$Home"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\uninstall.exe"
  ; The Startup shortcut is the tray section's.
  Delete "$SMSTARTUP\${PRODUCT}.lnk"

  WriteRegStr HKLM "${PRODUCT_KEY}" "InstallFolder" "$INSTDIR"
  WriteRegStr HKLM "${PRODUCT_KEY}" "ProgramFolder" "$Home"
  WriteRegStr HKLM "${PRODUCT_KEY}" "Version" "${VERSION}"
  WriteRegStr HKLM "${ENVIRONMENT_KEY}" "${HOME_VARIABLE}" "$Home"
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\upload-agent.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "Run as a Windows service (recommended where nobody stays logged on)" SecService
  ; Installs or renews the service on the program folder (its own virtual
  ; account, automatic start, restart after a failure, the folder's access
  ; list) and starts it.
  nsExec::ExecToLog '"$INSTDIR\upload-agent.exe" --install-service --home "$Home"'
  Pop $0
  ${If} $0 != 0
    DetailPrint "The service could not be installed (upload-agent.exe --install-service: $0)"
    SetErrors
  ${Else}
    nsExec::ExecToLog '"$SYSDIR\net.exe" start ${SERVICE}'
    Pop $0
  ${EndIf}
SectionEnd

Section "Start the tray program at log-on" SecTray
  SetOutPath "$Home"
  CreateShortCut "$SMSTARTUP\${PRODUCT}.lnk" "$INSTDIR\upload-agent.exe" '--home "$Home"' \
    "$INSTDIR\upload-agent.exe" 0 SW_SHOWMINIMIZED "" "The upload agent, started at log-on"
SectionEnd

; The service unchosen where it was installed: removed.
Section "-RemoveUnchosenService"
  ${If} $ServiceWas == 1
  ${AndIfNot} ${SectionIsSelected} ${SecService}
    nsExec::ExecToLog '"$INSTDIR\upload-agent.exe" --uninstall-service'
    Pop $0
  ${EndIf}
SectionEnd

; The sections chosen before the components page, from the system and the
; switches (after the sections, whose names it uses).
Function ChooseSections
  ${GetParameters} $0
  ; The service is chosen when it exists already (an upgrade keeps it), the
  ; tray program at log-on when the service is not; the switches decide.
  StrCpy $ServiceWas 0
  ClearErrors
  ReadRegStr $1 HKLM "${SERVICE_KEY}" "ImagePath"
  ${IfNot} ${Errors}
    StrCpy $ServiceWas 1
  ${EndIf}
  StrCpy $2 "no"
  ${If} $ServiceWas == 1
    StrCpy $2 "yes"
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/SERVICE=" $1
  ${IfNot} ${Errors}
    StrCpy $2 $1
  ${EndIf}
  ${If} $2 == "yes"
    !insertmacro SelectSection ${SecService}
    StrCpy $3 "no"
  ${Else}
    !insertmacro UnselectSection ${SecService}
    StrCpy $3 "yes"
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/TRAY=" $1
  ${IfNot} ${Errors}
    StrCpy $3 $1
  ${EndIf}
  ${If} $3 == "yes"
    !insertmacro SelectSection ${SecTray}
  ${Else}
    !insertmacro UnselectSection ${SecTray}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; The service first: stopped (within seconds) and removed.
  nsExec::ExecToLog '"$INSTDIR\upload-agent.exe" --uninstall-service'
  Pop $0
  ; A running agent's program goes at the next restart.
  Delete /REBOOTOK "$INSTDIR\upload-agent.exe"
  Delete /REBOOTOK "$INSTDIR\agent-sql.exe"
  Delete "$INSTDIR\upload-agent.exe.old"
  Delete "$INSTDIR\agent-sql.exe.old"
  Delete "$INSTDIR\schema\local.sql"
  Delete "$INSTDIR\schema\remote.sql"
  RMDir "$INSTDIR\schema"
  Delete "$INSTDIR\examples\Ostrel.INI"
  Delete "$INSTDIR\examples\remote-accounts.ini"
  Delete "$INSTDIR\examples\platform.ini"
  RMDir "$INSTDIR\examples"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: nothing of the office's is removed.
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Check the settings.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Settings and journal.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  Delete "$SMSTARTUP\${PRODUCT}.lnk"

  ; The program folder ($Home) stays: settings, journal, change-detection
  ; state and CSV folder are the office's, and a reinstall picks them up.
  DeleteRegValue HKLM "${ENVIRONMENT_KEY}" "${HOME_VARIABLE}"
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  DeleteRegKey HKLM "${PRODUCT_KEY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
