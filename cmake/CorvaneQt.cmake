# SPDX-License-Identifier: GPL-3.0-or-later
# The toolkit for the rest of the build, picked by CORVANE_QT_MAJOR in the top-level
# CMakeLists.txt. Both supported versions provide the version-less targets (Qt::Core, ...) and
# commands (qt_add_translation, qt_add_resources, qt_add_big_resources) that the build uses.

# Finds further Qt components of the chosen toolkit: corvane_find_qt(Test ...).
macro(corvane_find_qt)
    find_package(Qt${CORVANE_QT_MAJOR} ${CORVANE_QT_MINIMUM} REQUIRED COMPONENTS ${ARGN})
endmacro()

# lrelease, which turns the translation sources into catalogues. A cross build (Windows) runs
# the build machine's own, as a toolkit built for another system brings no tools that run here.
macro(corvane_find_linguist_tools)
    if(CMAKE_CROSSCOMPILING)
        find_program(CORVANE_LRELEASE NAMES lrelease PATHS /usr/lib/qt${CORVANE_QT_MAJOR}/bin
                     NO_DEFAULT_PATH REQUIRED)
    else()
        corvane_find_qt(LinguistTools)
    endif()
endmacro()

# corvane_add_translation(OUT ts...): as qt_add_translation, also in a cross build; each .qm
# goes to the source file's OUTPUT_LOCATION (default: the current binary folder).
function(corvane_add_translation out)
    if(NOT CMAKE_CROSSCOMPILING)
        qt_add_translation(qm_files ${ARGN})
        set(${out} ${qm_files} PARENT_SCOPE)
        return()
    endif()
    set(qm_files)
    foreach(ts ${ARGN})
        get_source_file_property(dir ${ts} OUTPUT_LOCATION)
        if(NOT dir)
            set(dir ${CMAKE_CURRENT_BINARY_DIR})
        endif()
        get_filename_component(name ${ts} NAME_WE)
        set(qm ${dir}/${name}.qm)
        add_custom_command(OUTPUT ${qm} COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                           COMMAND ${CORVANE_LRELEASE} -silent ${ts} -qm ${qm}
                           DEPENDS ${ts} VERBATIM)
        list(APPEND qm_files ${qm})
    endforeach()
    set(${out} ${qm_files} PARENT_SCOPE)
endfunction()

# Fails the configuration when a CMake file of the project names a Qt major version (a
# Qt5::Core target, a qt5_add_resources command, a find_package(Qt5 ...), a Qt5Core_DIR), as
# code written for one toolkit does, so that a build on the one toolkit never passes while
# the other breaks.
function(corvane_check_version_neutral_cmake)
    file(GLOB top_dirs LIST_DIRECTORIES true ${PROJECT_SOURCE_DIR}/*)
    set(cmake_files)
    foreach(dir ${top_dirs})
        get_filename_component(name ${dir} NAME)
        # Build folders inside the source tree hold CMake files generated from Qt's own.
        if(NOT IS_DIRECTORY ${dir} OR name MATCHES "^\\." OR EXISTS ${dir}/CMakeCache.txt
           OR dir STREQUAL PROJECT_BINARY_DIR)
            continue()
        endif()
        file(GLOB_RECURSE found RELATIVE ${PROJECT_SOURCE_DIR} ${dir}/CMakeLists.txt ${dir}/*.cmake)
        list(APPEND cmake_files ${found})
    endforeach()
    # This file spells the pattern; the top-level CMakeLists.txt holds the toolkit choice.
    list(REMOVE_ITEM cmake_files cmake/CorvaneQt.cmake)
    set(offenders)
    foreach(file ${cmake_files})
        file(STRINGS ${PROJECT_SOURCE_DIR}/${file} lines REGEX "[Qq][Tt][56]([^0-9.]|$)")
        foreach(line ${lines})
            string(STRIP "${line}" line)
            list(APPEND offenders "  ${file}: ${line}")
        endforeach()
    endforeach()
    if(offenders)
        list(JOIN offenders "\n" offenders)
        message(FATAL_ERROR "These lines name a Qt major version; use Qt::<Module>, qt_<command> "
                            "or corvane_find_qt(<Module>) instead:\n${offenders}")
    endif()
endfunction()
corvane_check_version_neutral_cmake()
