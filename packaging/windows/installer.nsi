; SPDX-License-Identifier: GPL-3.0-or-later
; The Windows installer: tools/scripts/package-windows.sh runs
;   makensis -DVERSION=1.9.0 -DSTAGE=<folder with the programs> -DOUTFILE=<setup.exe>
;            -DICON=<icon> installer.nsi
; Installs for the current user without administrator rights (%LOCALAPPDATA%\Programs), or
; for all users when run elevated (Program Files). /CURRENTUSER and /ALLUSERS on the command
; line choose; /S installs silently, /PATH also puts corvane-cli on the user's PATH then.
; The uninstaller removes what was installed and leaves the user's backups, history and
; settings in %APPDATA%.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true
RequestExecutionLevel user

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include WinMessages.nsh
!include Sections.nsh

!define PRODUCT "Corvane X9 Firmware Tool"
!define FOLDER "Corvane X9 Firmware Tool"
!define WINDOW_EXE "corvane-firmware-tool.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\CorvaneX9FirmwareTool"
!define ENVIRONMENT_KEY "Environment"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${FOLDER}"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "Corvane"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "GNU General Public License, version 3 or later"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${WINDOW_EXE}"
!define MUI_UNFINISHPAGE_NOAUTOCLOSE

!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "$(UninstalledTitle)"
!define MUI_FINISHPAGE_TEXT "$(DataKept)"
!insertmacro MUI_UNPAGE_FINISH

; The tool's own five languages; the installer starts in the system's.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro MUI_LANGUAGE "French"

LangString ProgramSection ${LANG_ENGLISH} "Program"
LangString ProgramSection ${LANG_SIMPCHINESE} "程序"
LangString ProgramSection ${LANG_JAPANESE} "プログラム"
LangString ProgramSection ${LANG_RUSSIAN} "Программа"
LangString ProgramSection ${LANG_FRENCH} "Programme"
LangString PathSection ${LANG_ENGLISH} "Add corvane-cli to my PATH"
LangString PathSection ${LANG_SIMPCHINESE} "将 corvane-cli 添加到我的 PATH"
LangString PathSection ${LANG_JAPANESE} "corvane-cli を PATH に追加する"
LangString PathSection ${LANG_RUSSIAN} "Добавить corvane-cli в мой PATH"
LangString PathSection ${LANG_FRENCH} "Ajouter corvane-cli à mon PATH"
LangString UninstalledTitle ${LANG_ENGLISH} "${PRODUCT} has been removed"
LangString UninstalledTitle ${LANG_SIMPCHINESE} "${PRODUCT} 已卸载"
LangString UninstalledTitle ${LANG_JAPANESE} "${PRODUCT} を削除しました"
LangString UninstalledTitle ${LANG_RUSSIAN} "${PRODUCT} удалён"
LangString UninstalledTitle ${LANG_FRENCH} "${PRODUCT} a été désinstallé"
LangString DataKept ${LANG_ENGLISH} "Your configuration backups, the history of your adapter's updates, the downloaded firmware and your settings are kept in $APPDATA\Corvane\Corvane X9 Firmware Tool. Delete that folder yourself if you no longer need them."
LangString DataKept ${LANG_SIMPCHINESE} "您的配置备份、适配器更新记录、已下载的固件和设置保留在 $APPDATA\Corvane\Corvane X9 Firmware Tool 中。如不再需要，请自行删除该文件夹。"
LangString DataKept ${LANG_JAPANESE} "設定のバックアップ、アダプターの更新履歴、ダウンロードしたファームウェアと設定は $APPDATA\Corvane\Corvane X9 Firmware Tool に残っています。不要な場合はこのフォルダーを削除してください。"
LangString DataKept ${LANG_RUSSIAN} "Резервные копии конфигурации, история обновлений адаптера, загруженные прошивки и настройки остаются в $APPDATA\Corvane\Corvane X9 Firmware Tool. Удалите эту папку сами, если они больше не нужны."
LangString DataKept ${LANG_FRENCH} "Vos sauvegardes de configuration, l'historique des mises à jour de l'adaptateur, les micrologiciels téléchargés et vos réglages restent dans $APPDATA\Corvane\Corvane X9 Firmware Tool. Supprimez ce dossier vous-même si vous n'en avez plus besoin."

Var AllUsers

!macro WriteUninstallKey ROOT
    WriteRegStr ${ROOT} "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr ${ROOT} "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr ${ROOT} "${UNINSTALL_KEY}" "Publisher" "Corvane"
    WriteRegStr ${ROOT} "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${WINDOW_EXE}"
    WriteRegStr ${ROOT} "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr ${ROOT} "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr ${ROOT} "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD ${ROOT} "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD ${ROOT} "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD ${ROOT} "${UNINSTALL_KEY}" "EstimatedSize" $0
!macroend

Section "$(ProgramSection)" SecProgram
    SectionIn RO
    SetOutPath "$INSTDIR"
    ; The files of the portable folder, listed by package-windows.sh.
    !include "${STAGE}\files.nsh"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${WINDOW_EXE}" "" \
        "$INSTDIR\${WINDOW_EXE}" 0
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    IntFmt $0 "0x%08X" $0
    ${If} $AllUsers == 1
        !insertmacro WriteUninstallKey HKLM
    ${Else}
        !insertmacro WriteUninstallKey HKCU
    ${EndIf}
SectionEnd

; The user's own PATH, so that corvane-cli runs from any console (new consoles see it).
Section /o "$(PathSection)" SecPath
    ReadRegStr $0 HKCU "${ENVIRONMENT_KEY}" "Path"
    ${WordFind} "$0" ";" "E/$INSTDIR" $1
    ${If} ${Errors}
        ${If} $0 == ""
            StrCpy $0 "$INSTDIR"
        ${Else}
            StrCpy $0 "$0;$INSTDIR"
        ${EndIf}
        WriteRegExpandStr HKCU "${ENVIRONMENT_KEY}" "Path" "$0"
        SendMessage ${HWND_BROADCAST} ${WM_WININICHANGE} 0 "STR:Environment" /TIMEOUT=1000
    ${EndIf}
    WriteRegDWORD HKCU "Software\Corvane\Corvane X9 Firmware Tool" "PathAdded" 1
SectionEnd

Section "Uninstall"
    ; Only what the installer put there: the user's data lives elsewhere and stays.
    !include "${STAGE}\unfiles.nsh"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    ReadRegDWORD $1 HKCU "Software\Corvane\Corvane X9 Firmware Tool" "PathAdded"
    ${If} $1 == 1
        ReadRegStr $0 HKCU "${ENVIRONMENT_KEY}" "Path"
        ${WordReplace} "$0" ";$INSTDIR" "" "+" $0
        ${WordReplace} "$0" "$INSTDIR;" "" "+" $0
        ${WordReplace} "$0" "$INSTDIR" "" "+" $0
        ${If} $0 == ""
            DeleteRegValue HKCU "${ENVIRONMENT_KEY}" "Path"
        ${Else}
            WriteRegExpandStr HKCU "${ENVIRONMENT_KEY}" "Path" "$0"
        ${EndIf}
        SendMessage ${HWND_BROADCAST} ${WM_WININICHANGE} 0 "STR:Environment" /TIMEOUT=1000
        DeleteRegValue HKCU "Software\Corvane\Corvane X9 Firmware Tool" "PathAdded"
        DeleteRegKey /ifempty HKCU "Software\Corvane\Corvane X9 Firmware Tool"
        DeleteRegKey /ifempty HKCU "Software\Corvane"
    ${EndIf}
    ${If} $AllUsers == 1
        DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ${Else}
        DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ${EndIf}
SectionEnd

; Current user, or all users when run elevated; /CURRENTUSER and /ALLUSERS choose.
Function .onInit
    StrCpy $AllUsers 0
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 == "Admin"
        StrCpy $AllUsers 1
    ${EndIf}
    ${GetParameters} $1
    ClearErrors
    ${GetOptions} $1 "/CURRENTUSER" $2
    ${IfNot} ${Errors}
        StrCpy $AllUsers 0
    ${EndIf}
    ClearErrors
    ${GetOptions} $1 "/ALLUSERS" $2
    ${IfNot} ${Errors}
        StrCpy $AllUsers 1
    ${EndIf}
    ${If} $AllUsers == 1
        SetShellVarContext all
        StrCpy $INSTDIR "$PROGRAMFILES64\${FOLDER}"
    ${Else}
        SetShellVarContext current
    ${EndIf}
    ; A silent install puts corvane-cli on the PATH only when asked to.
    ${If} ${Silent}
        ClearErrors
        ${GetOptions} $1 "/PATH" $2
        ${IfNot} ${Errors}
            SectionSetFlags ${SecPath} ${SF_SELECTED}
        ${EndIf}
    ${EndIf}
FunctionEnd

; The uninstaller works in the scope the installer used.
Function un.onInit
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == $INSTDIR
        StrCpy $AllUsers 1
        SetShellVarContext all
    ${Else}
        StrCpy $AllUsers 0
        SetShellVarContext current
    ${EndIf}
FunctionEnd

