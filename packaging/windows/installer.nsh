; Morvane's additions to CPack's installer script, included at its top (CPACK_NSIS_DEFINES) and
; inserted into its installation and uninstallation sections (packaging/CMakeLists.txt).
;
; PATH: CPack's own PATH step adds a "bin" folder, which this installation does not have (the
; programs sit in the installation folder itself, as in the zip). These macros put that folder on
; PATH instead, with the choice of the installer's PATH page, which the uninstaller reads back
; from the registry. A silent installation (/S) shows no page: it leaves PATH alone unless told
;   /PATH=all    add the folder to the system PATH (all users)
;   /PATH=user   add it to the PATH of the user who installs
; Any other /PATH= value ends the installation with exit code 2 before anything is changed: an
; installed Morvane stays as it is. Only then does an installed version's uninstaller run (see
; MorvaneBeforeInstall), so that an upgrade replaces it.

!include "LogicLib.nsh"
!include "FileFunc.nsh"

; In the installation section, before any file is copied: a silent installation's /PATH= switch
; becomes the PATH page's state, which the section reads next; then an installed version is
; uninstalled, silently and from where it is, and waited for.
!macro MorvaneBeforeInstall
  !insertmacro MorvaneSilentPathChoice
  ReadRegStr $R2 HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvane" "UninstallString"
  ${If} $R2 != ""
    ; The registered command is quoted: "C:\...\Uninstall.exe".
    StrCpy $R3 $R2 1
    ${If} $R3 == '"'
      StrCpy $R2 $R2 "" 1
      StrCpy $R2 $R2 -1
    ${EndIf}
    ${GetParent} $R2 $R3
    ClearErrors
    ExecWait '"$R2" /S _?=$R3'  ; _?= runs it in place, so that ExecWait sees its end
    ${If} ${Errors}
      SetErrorLevel 3
      MessageBox MB_OK|MB_ICONSTOP "The installed Morvane could not be uninstalled." /SD IDOK
      Quit
    ${EndIf}
    Delete "$R2"  ; run in place, it leaves itself behind
    SetOutPath "$INSTDIR"  ; the folder it may have taken along
  ${EndIf}
!macroend

!macro MorvaneSilentPathChoice
  ${If} ${Silent}
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/PATH=" $R1
    ${IfNot} ${Errors}
      ${If} $R1 == "all"
        !insertmacro MUI_INSTALLOPTIONS_WRITE "NSIS.InstallOptions.ini" "Field 2" "State" "0"
        !insertmacro MUI_INSTALLOPTIONS_WRITE "NSIS.InstallOptions.ini" "Field 3" "State" "1"
      ${ElseIf} $R1 == "user"
        !insertmacro MUI_INSTALLOPTIONS_WRITE "NSIS.InstallOptions.ini" "Field 2" "State" "0"
        !insertmacro MUI_INSTALLOPTIONS_WRITE "NSIS.InstallOptions.ini" "Field 4" "State" "1"
      ${Else}
        SetOutPath "$TEMP"  ; out of the folder the section has just made, to remove it
        RMDir "$INSTDIR"    ; when it is empty
        SetErrorLevel 2
        Quit
      ${EndIf}
    ${EndIf}
  ${EndIf}
!macroend

; At the end of the installation section, after the choice went into the registry.
!macro MorvaneAddToPath
  ${If} $DO_NOT_ADD_TO_PATH != "1"
    ; CPack's step looks for the folder in the PATH this installer started with, which still
    ; holds it when an older version was uninstalled a moment ago: show it the PATH of now.
    ReadRegStr $R5 HKLM "SYSTEM\CurrentControlSet\Control\Session Manager\Environment" "PATH"
    ReadRegStr $R6 HKCU "Environment" "PATH"
    System::Call 'kernel32::SetEnvironmentVariable(t "PATH", t "$R5;$R6")'
    Push "$INSTDIR"
    Call AddToPath
  ${EndIf}
!macroend

; In the uninstallation section, which has read the choice back. A user's PATH that held nothing
; but the installation folder goes altogether, as it was before.
!macro MorvaneRemoveFromPath
  Push "$INSTDIR"
  Call un.RemoveFromPath
  ${If} $ADD_TO_PATH_CURRENT_USER == "1"
    ClearErrors
    ReadRegStr $R0 HKCU "Environment" "PATH"
    ${If} $R0 == ""
    ${AndIfNot} ${Errors}
      DeleteRegValue HKCU "Environment" "PATH"
    ${EndIf}
  ${EndIf}
!macroend
