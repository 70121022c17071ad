# SPDX-License-Identifier: GPL-3.0-or-later
# What a Windows program of the tool carries besides its code: the file properties (version,
# description) and, for the window program, the icon, drawn from the same picture as the
# Linux desktop's.
set(CORVANE_WINDOWS_ICON ${PROJECT_BINARY_DIR}/generated/corvane-firmware-tool.ico)
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(icon_svg ${PROJECT_SOURCE_DIR}/resources/linux/io.github.corvane.FirmwareTool.svg)
set(icon_pngs)
set(icon_commands)
foreach(size 16 20 24 32 40 48 64 256)
    set(png ${PROJECT_BINARY_DIR}/generated/icon-${size}.png)
    list(APPEND icon_pngs ${png})
    list(APPEND icon_commands COMMAND ${RSVG_CONVERT} --width=${size} --height=${size}
         --output=${png} ${icon_svg})
endforeach()
add_custom_command(OUTPUT ${CORVANE_WINDOWS_ICON} ${icon_commands}
                   COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/scripts/make-ico.py
                           ${CORVANE_WINDOWS_ICON} ${icon_pngs}
                   DEPENDS ${icon_svg} ${PROJECT_SOURCE_DIR}/tools/scripts/make-ico.py VERBATIM)
add_custom_target(corvane_windows_icon DEPENDS ${CORVANE_WINDOWS_ICON})

# corvane_windows_resources(TARGET DESCRIPTION [ICON]): the target's version resource.
function(corvane_windows_resources target description)
    cmake_parse_arguments(R "ICON" "" "" ${ARGN})
    set(CORVANE_RC_NAME ${target})
    set(CORVANE_RC_FILE ${target}.exe)
    set(CORVANE_RC_DESCRIPTION ${description})
    set(CORVANE_RC_ICON "")
    if(R_ICON)
        set(CORVANE_RC_ICON "1 ICON \"${CORVANE_WINDOWS_ICON}\"")
    endif()
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/resources/windows/versioninfo.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    if(R_ICON)
        add_dependencies(${target} corvane_windows_icon)
        set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${CORVANE_WINDOWS_ICON})
    endif()
endfunction()

# Built here for Windows, the programs and tests run under Wine: CTest starts each through
# a launcher that finds the DLLs of Qt, hidapi and the MinGW runtime where they were built.
if(CMAKE_CROSSCOMPILING)
    find_program(CORVANE_WINE NAMES wine64 wine PATHS /usr/lib/wine)
    get_filename_component(qt_prefix "${QT${CORVANE_QT_MAJOR}_INSTALL_PREFIX}" ABSOLUTE)
    if(NOT qt_prefix)
        get_filename_component(qt_prefix "${Qt${CORVANE_QT_MAJOR}Core_DIR}/../../.." ABSOLUTE)
    endif()
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                    OUTPUT_VARIABLE runtime_dll OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libwinpthread-1.dll
                    OUTPUT_VARIABLE pthread_dll OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(runtime_dir "${runtime_dll}" DIRECTORY)
    get_filename_component(pthread_dir "${pthread_dll}" DIRECTORY)
    set(dll_dirs "${qt_prefix}/bin" "${runtime_dir}" "${pthread_dir}")
    if(TARGET hidapi::winapi)
        get_target_property(hidapi_dll hidapi::winapi IMPORTED_LOCATION_RELEASE)
        get_filename_component(hidapi_dir "${hidapi_dll}" DIRECTORY)
        list(APPEND dll_dirs "${hidapi_dir}")
    endif()
    # Every build folder's list of these folders, for the packaging scripts too.
    set(CORVANE_WINDOWS_DLL_DIRS ${dll_dirs} CACHE INTERNAL "Folders of the DLLs the programs load")
    set(CORVANE_WINDOWS_QT_PREFIX ${qt_prefix} CACHE INTERNAL "Qt for Windows")
    list(TRANSFORM dll_dirs PREPEND "Z:")
    list(JOIN dll_dirs ";" CORVANE_WINEPATH)
    set(CORVANE_WINE_PLUGIN_PATH "Z:${qt_prefix}/plugins")
    set(CORVANE_WINEPREFIX ${PROJECT_BINARY_DIR}/wine-prefix)
    configure_file(${PROJECT_SOURCE_DIR}/tools/scripts/wine-run.sh.in ${PROJECT_BINARY_DIR}/wine-run.sh
                   @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                   GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run.sh)
endif()
