# SPDX-License-Identifier: GPL-3.0-or-later
# The toolkit for the rest of the build, picked by CORVANE_QT_MAJOR in the top-level
# CMakeLists.txt. Both supported versions provide the version-less targets (Qt::Core, ...) and
# commands (qt_add_translation, qt_add_resources, qt_add_big_resources) that the build uses.

# Finds further Qt components of the chosen toolkit: corvane_find_qt(Test ...).
macro(corvane_find_qt)
    find_package(Qt${CORVANE_QT_MAJOR} ${CORVANE_QT_MINIMUM} REQUIRED COMPONENTS ${ARGN})
endmacro()

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
